#include "common/win32/handles.h"
#include "service/kelmsvc.h"
#include "service/logic/svclog.h"

namespace kelm::svc {

namespace {
Lock& LogLock() {
  static Lock lock;
  return lock;
}

HANDLE OpenLogForAppend() {
  return CreateFileA(kLogPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}
}  // namespace

// The bytes are made here exactly as a text-mode append stores them, and
// written as they are, so every runtime produces the same file. The log is
// written by both service threads; one lock keeps entries and the size
// check whole.
void LogLine(std::string_view message) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  char entry[kLogEntryMaxBytes];
  std::size_t n = FormatLogEntry(
      {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond}, message, entry);

  LockGuard guard(LogLock());
  win::UniqueHandle file(OpenLogForAppend());
  if (!file) return;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file.get(), &size) &&
      LogNeedsRotation(static_cast<std::uint64_t>(size.QuadPart), n)) {
    file.reset();
    // Without the rotation the file grows by every poll of the tray program.
    // If the old file cannot be replaced, logging goes on in the full one.
    MoveFileExA(kLogPath, kLogOldPath, MOVEFILE_REPLACE_EXISTING);
    file.reset(OpenLogForAppend());
    if (!file) return;
  }
  DWORD written = 0;
  WriteFile(file.get(), entry, static_cast<DWORD>(n), &written, nullptr);
}

}  // namespace kelm::svc
