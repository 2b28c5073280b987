// kelmsvc's Win32 side: the pieces the service program's files share.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string_view>

#include "service/logic/dispatch.h"

namespace kelm::svc {

// A critical section that lives as long as the program.
class Lock {
 public:
  Lock() { InitializeCriticalSection(&cs_); }
  ~Lock() { DeleteCriticalSection(&cs_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void Enter() { EnterCriticalSection(&cs_); }
  void Leave() { LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};

class LockGuard {
 public:
  explicit LockGuard(Lock& l) : l_(l) { l_.Enter(); }
  ~LockGuard() { l_.Leave(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& l_;
};

// logline.cpp: appends one entry to c:\kelmlog.txt (both threads).
void LogLine(std::string_view message);

// install.cpp
void InstallService();
void RemoveService();
// The system text of GetLastError as "<text> (0x<code>)", or empty.
const char* LastErrorText(char* buf);

// service.cpp
int ServiceEntry();
void LogEventError(const char* message);

// pipeserver.cpp
DWORD WINAPI PipeServer(LPVOID);
// Formats and writes one answer or notice; both the pipe thread and the
// service thread come through here.
bool SendAnswer(std::uint32_t value, std::uint8_t code);
// Before the pipe thread starts: no instance, nothing to answer to.
void PipeMarkNotConnected();
// When the service stops: clear the run flag and cut the current instance.
void PipeShutdown();

// operations.cpp: the state both working threads share, behind one lock
// that serialises pipe commands and key-watch steps.
Lock& CommandLock();
ServiceState& State();
ServiceOperations& Operations();
// Runs one request text under the command lock (pipe thread).
void RunPipeRequest(std::string_view text);
// One once-a-second step of the key watch (service thread).
void KeyWatchStep();
// The service body's final dismount, under the command lock.
void FinalDismount();

}  // namespace kelm::svc
