// The shell extension's in-memory copy of every user's protection list
// (one per process) and the store steps that read and write one user's
// registry values. Pure: the registry, WIN.INI and window calls live in
// shellext/ctxmenu.cpp behind ValueStore.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelm::shx {

inline constexpr unsigned kMaxChainEntries = 511;
inline constexpr std::size_t kMaxChainPath = 259;
inline constexpr std::size_t kMaxChainLevel = 5;
inline constexpr std::size_t kMaxChainUser = 50;
inline constexpr std::size_t kKeyIdField = 64;

// Registry read sizes in bytes (the buffer holds one more for the end).
inline constexpr std::size_t kFlagRead = 100;   // "lockfile", "fileNum"
inline constexpr std::size_t kLevelRead = 500;  // "filelevel%u"
inline constexpr std::size_t kNameRead = 499;   // "filename%u"

// a is exactly len characters and equals b over them (case ignored, ASCII).
bool isEqual(std::string_view a, std::string_view b, std::size_t len);
// entry is path, or lies below it: same first characters (case ignored),
// then the end of entry or a backslash.
bool isEqualPath(std::string_view entry, std::string_view path);

struct ChainEntry {
  std::string level;
  std::string path;
};

struct UserRecord {
  std::string keyId;
  std::vector<ChainEntry> entries;
};

struct LockStatus {
  bool byOther = false;
  bool byMe = false;
};

class ProtectionChain {
 public:
  // AddToChain: cuts path, level and user to their limits, drops one
  // trailing backslash from the path and lower-cases all three. False when
  // the user's list already holds 511 entries or memory runs out.
  bool Add(std::string_view user, std::string_view level, std::string_view path) noexcept;
  // DeleteFromChain: the first entry of the first matching user whose path
  // equals path (case ignored); nothing when there is none.
  void Remove(std::string_view user, std::string_view path) noexcept;
  LockStatus Check(std::string_view current, std::string_view path) const noexcept;
  // GetFileOnwer: the first entry at or below path in chain order.
  bool Owner(std::string_view path, std::string& owner, std::string& level) const noexcept;
  // The first record whose user equals user (case ignored), or null.
  const UserRecord* Find(std::string_view user) const noexcept;
  const std::vector<UserRecord>& Records() const noexcept { return records_; }
  void Clear() noexcept { records_.clear(); }
  std::size_t EntryCount() const noexcept;

 private:
  std::vector<UserRecord> records_;
};

// DispAllChain's trace lines, one per entry:
// "FileToBeMonitored = User=%s Level=%s File=%s\n".
std::vector<std::string> ChainTraceLines(const ProtectionChain& chain);

// One user's registry key as the store steps see it.
class ValueStore {
 public:
  virtual ~ValueStore() = default;
  // Reads at most size bytes into buf (size + 1 bytes, zeroed first, so the
  // text always ends within it). False when the value cannot be read.
  virtual bool Read(const char* name, char* buf, std::size_t size) = 0;
  virtual bool Write(const char* name, std::string_view text) = 0;
};

// "lockfile" reads and is "yes" (any case, nothing after it).
bool LockFileEnabled(ValueStore& store);

// GetRawConfig for one user key: loads its list into the chain when
// "lockfile" is "yes"; stops at the first unreadable pair or a full list.
void LoadUserList(ProtectionChain& chain, std::string_view user, ValueStore& store);

// ProtectFile's registry steps: "lockfile" must be "yes"; then
// "filelevel%u", "filename%u" at index n = "fileNum" and "fileNum" = n + 1.
// Refused, with nothing written, when the list already holds 511 entries:
// a later load would never read the entry past them.
bool AppendStoredEntry(ValueStore& store, unsigned level, std::string_view path);

// ReSaveProtectFile's registry steps: "fileNum" = "0", then (only when
// "lockfile" is "yes") the chain's copy of user's list and its count.
// True when the rewrite went through and the monitor should be told.
bool RewriteStoredList(ValueStore& store, const ProtectionChain& chain, std::string_view user);

// Text after the last backslash ("" for a drive root such as "D:\").
std::string_view BareName(std::string_view path);

// path begins with dir (case ignored, over dir's length; an empty dir
// matches nothing).
bool UnderDirectory(std::string_view path, std::string_view dir);

// A language text used as a format with one text argument: each "%s" takes
// arg, "%%" gives "%", every other character is copied. A translation can
// therefore never make the formatter read past its one argument.
std::string FormatWithText(std::string_view format, std::string_view arg);

// Copy submenu entries from GetMountedDev's four letter bytes (slot 0 in
// the low byte): one per non-zero byte, in slot order, offsets 4 upward.
struct CopyTarget {
  char letter;
  unsigned offset;
};
std::vector<CopyTarget> CopyTargets(std::uint32_t letters);

// The destination of a copy: the source with its first character replaced
// by the drive letter. Empty for an empty source.
std::string CopyDestination(std::string_view source, char letter);

}  // namespace kelm::shx
