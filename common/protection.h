// Protection list store (HKLM "Software\kesk\<UserId>") and the protected
// folder decoration: names, limits and field codecs (pure). The registry,
// WIN.INI and file calls live in common/win32/protectstore and
// common/win32/lockdecor.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kelm::protect {

// Values of a user key, all REG_SZ.
inline constexpr const char* kLockFileValue = "lockfile";
inline constexpr const char* kFileNumValue = "fileNum";
inline constexpr const char* kLevelValueBase = "filelevel";  // + index
inline constexpr const char* kNameValueBase = "filename";    // + index

// WIN.INI: section "lockfilechk", key UserId, "1" enabled / "0" disabled.
inline constexpr const char* kLockFileCheckSection = "lockfilechk";

inline constexpr unsigned kMaxEntries = 511;
inline constexpr std::size_t kMaxPath = 259;
inline constexpr std::size_t kMaxLevelText = 5;
inline constexpr std::size_t kMaxChainUser = 50;

// Registry read buffers in bytes (zeroed before each read).
inline constexpr std::size_t kFlagReadBuffer = 100;   // "lockfile", "fileNum"
inline constexpr std::size_t kLevelReadBuffer = 500;  // "filelevel%u" (shell extension)
inline constexpr std::size_t kNameReadBuffer = 499;   // "filename%u"; KelmCfg reads levels with it too

// ProtectionLevel.
inline constexpr int kFullProtection = 1;
inline constexpr int kGeneralProtection = 2;

// "fileNum" as a count: its decimal value, at most 511.
unsigned EntryCount(std::string_view fileNum);

// The icon level a stored level text decorates with: 1 for a text whose
// decimal value is 1, 2 for anything else.
int DecorationLevel(std::string_view levelText);

// One entry of a user's list as stored.
struct Entry {
  std::string level;
  std::string path;
};

// What a list rewrite stores for rows shown top to bottom: each row with a
// path, in order. A row without a path is left out rather than leaving its
// index to whatever an earlier list stored there.
std::vector<Entry> RewriteEntries(const std::vector<Entry>& rows);

// --- Folder decoration.

inline constexpr const char* kShellClassInfo = ".ShellClassInfo";
inline constexpr const char* kDesktopIni = "Desktop.ini";
inline constexpr const char* kTemplateIni = "\\lockcfg.ini";  // in the Windows directory
inline constexpr const char* kLockedTip = "Kelm Locked File";

// "\lockfld1.ico" for level 1, "\lockfld2.ico" for any other level.
const char* LevelIconName(int level);

// Buffer size for the paths the decoration builds (a 259-character folder
// plus "\Desktop.ini", or the Windows directory plus an icon name).
inline constexpr std::size_t kPathBuffer = 300;

// folder + "Desktop.ini" when folder ends with a backslash, else
// folder + "\Desktop.ini". False (out empty) when it does not fit cap.
bool DesktopIniPath(std::string_view folder, char* out, std::size_t cap);

// dir + name into out; false (out empty) when it does not fit cap.
bool JoinPath(std::string_view dir, std::string_view name, char* out, std::size_t cap);

struct IniValue {
  const char* key;
  const char* value;
};
inline constexpr std::size_t kDecorationValues = 5;

// The five ".ShellClassInfo" values in writing order. Decorated: IconFile
// = iconFile, ConfirmFileOp "0", NoSharing "1", IconIndex "0", InfoTip
// "Kelm Locked File"; cleared (iconFile ignored): IconFile empty, InfoTip
// "No", the others as decorated.
void DecorationValues(bool decorated, const char* iconFile, IniValue (&out)[kDecorationValues]);

}  // namespace kelm::protect
