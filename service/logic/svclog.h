// The service log "c:\kelmlog.txt": entry bytes and the size rule. Pure.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kelm::svc {

inline constexpr char kLogPath[] = "c:\\kelmlog.txt";
inline constexpr char kLogOldPath[] = "c:\\kelmlog.old";

// A log file may grow to 4 MiB; the entry that would take it past that
// starts a new file (the full one becomes kelmlog.old).
inline constexpr std::uint64_t kLogRotateBytes = 4u * 1024u * 1024u;

// The formatted text of one entry is at most this long.
inline constexpr std::size_t kLogEntryMaxChars = 2047;
// Every LF doubles, then CR CR LF follows.
inline constexpr std::size_t kLogEntryMaxBytes = 2 * kLogEntryMaxChars + 3;

struct LogTime {
  int year, month, day, hour, minute, second;
};

// The bytes one entry adds to the file: "%04d:%02d:%02d --- %02d:%02d:%02d: %s"
// (cut to 2047 characters) stored as a text-mode stream stores it (every LF
// as CR LF), then CR, then CR LF. Returns the byte count (out holds at least
// kLogEntryMaxBytes bytes).
std::size_t FormatLogEntry(const LogTime& t, std::string_view message, char* out);

// True when a file of currentSize bytes must be set aside before an entry
// of entryBytes is appended.
bool LogNeedsRotation(std::uint64_t currentSize, std::size_t entryBytes);

// Messages of the pipe server.
inline constexpr char kLogServerEntry[] = "ServerProc entry\n";
inline constexpr char kLogServerExit[] = "ServerProc exit\n";
inline constexpr char kLogServerBrokenPipe[] = "ServerProc ERROR_BROKEN_PIPE exit\n";
inline constexpr char kLogServerUnknownExit[] = "ServerProc unkown exit\n";
inline constexpr char kLogCheckMountFail[] = "answer CHECKMOUNT send fail\n";

// Messages of the dismount steps.
inline constexpr char kLogOpenError[] = "open ERROR\n";
inline constexpr char kLogLockError[] = "LockVolume ERROR\n";
inline constexpr char kLogDismountError[] = "DismountVolume ERROR\n";
inline constexpr char kLogUnlockError[] = "UnlockVolume ERROR\n";

// Messages of the Windows XP mount sequence, in code page 936.
// "有该磁盘了" (no line feed)
inline constexpr char kLogXpLetterDefined[] = "\xD3\xD0\xB8\xC3\xB4\xC5\xC5\xCC\xC1\xCB";
// "连接到kelmgui失败\n"
inline constexpr char kLogXpControlOpenFail[] =
    "\xC1\xAC\xBD\xD3\xB5\xBD" "kelmgui" "\xCA\xA7\xB0\xDC\n";
// "定义符号连接\Device\kelm\Kelm失败\n"
inline constexpr char kLogXpDefineFail[] =
    "\xB6\xA8\xD2\xE5\xB7\xFB\xBA\xC5\xC1\xAC\xBD\xD3" "\\Device\\kelm\\Kelm" "\xCA\xA7\xB0\xDC\n";
// "连接到\\??\A:失败\n"
inline constexpr char kLogXpVolumeOpenFail[] =
    "\xC1\xAC\xBD\xD3\xB5\xBD" "\\\\?" "?\\A:" "\xCA\xA7\xB0\xDC\n";
// "IOCTL_CREATE_SYM_LINK失败\n"
inline constexpr char kLogXpSymLinkFail[] = "IOCTL_CREATE_SYM_LINK" "\xCA\xA7\xB0\xDC\n";
// "IOCTL_FILE_DISK_OPEN_FILE失败\n"
inline constexpr char kLogXpOpenFileFail[] = "IOCTL_FILE_DISK_OPEN_FILE" "\xCA\xA7\xB0\xDC\n";

}  // namespace kelm::svc
