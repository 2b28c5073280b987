// The pipe thread: one instance of "\\.\PIPE\kelmpip" at a time, one client
// per instance, every request carried out before the next is read.
#include <atomic>
#include <cstring>

#include "common/protocol.h"
#include "common/win32/handles.h"
#include "service/kelmsvc.h"
#include "service/logic/svclog.h"

namespace kelm::svc {

namespace {

constexpr char kPipeName[] = "\\\\.\\PIPE\\kelmpip";
constexpr DWORD kMaxInstances = 10;
// A client that stops reading must not hold both working threads (and the
// stop) for ever: an answer that cannot be delivered within this time
// counts as failed, like any other failed write.
constexpr DWORD kAnswerWaitMs = 10000;

// What the pipe thread shares with the service thread. The answer lock
// covers the handles, the connected flag and the one answer record.
struct PipeShared {
  Lock answerLock;
  std::atomic<bool> run{true};
  HANDLE pipe = nullptr;          // current instance
  HANDLE answerHandle = nullptr;  // where answers go
  bool connected = false;
  HANDLE answerEvent = nullptr;
  OVERLAPPED answerOv{};
  char answerText[kMaxMessageChars] = {};
};

PipeShared& Shared() {
  static PipeShared shared;
  return shared;
}

// A NULL DACL lets every account connect. The descriptor's size is that of
// the platform (20 bytes on 32-bit Windows, 40 on 64-bit).
struct OpenSecurity {
  win::LocalMem memory{LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH)};
  bool Init() {
    if (!memory) return false;
    PSECURITY_DESCRIPTOR sd = memory.get();
    if (!InitializeSecurityDescriptor(sd, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(sd, TRUE, nullptr, FALSE)) {
      memory.reset();
      return false;
    }
    return true;
  }
};

// Reads and carries out requests until the client goes or a read fails.
void ServeClient(HANDLE pipe) {
  static char request[kPipeBufferSize];
  std::memset(request, 0, sizeof request);
  win::UniqueHandle readEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!readEvent) return;
  OVERLAPPED ov{};
  ov.hEvent = readEvent.get();
  PipeShared& sh = Shared();
  while (sh.run) {
    DWORD n = 0;
    if (!ReadFile(pipe, request, sizeof request, nullptr, &ov)) {
      DWORD err = GetLastError();
      if (err == ERROR_BROKEN_PIPE) {
        LogLine(kLogServerBrokenPipe);
        return;
      }
      if (err != ERROR_IO_PENDING) {  // ERROR_MORE_DATA too: a request too long
        LogLine(kLogServerUnknownExit);
        return;
      }
      WaitForSingleObject(readEvent.get(), INFINITE);
    }
    if (!GetOverlappedResult(pipe, &ov, &n, FALSE)) {
      LogLine(GetLastError() == ERROR_BROKEN_PIPE ? kLogServerBrokenPipe : kLogServerUnknownExit);
      return;
    }
    if (n == 0) continue;
    if (n > kMaxRequestBytes) {  // 1000 bytes and no CR room: not a request
      LogLine(kLogServerUnknownExit);
      return;
    }
    RunPipeRequest(RequestText(request, n));
  }
}

}  // namespace

bool SendAnswer(std::uint32_t value, std::uint8_t code) {
  PipeShared& sh = Shared();
  char text[kMaxMessageChars];
  std::size_t n = FormatAnswer(value, code, text, sizeof text);
  LockGuard guard(sh.answerLock);
  if (!sh.connected || !sh.answerHandle || n == 0) return false;
  std::memcpy(sh.answerText, text, n);
  std::memset(&sh.answerOv, 0, sizeof sh.answerOv);
  sh.answerOv.hEvent = sh.answerEvent;
  DWORD written = 0;
  if (WriteFile(sh.answerHandle, sh.answerText, static_cast<DWORD>(n), &written, &sh.answerOv))
    return true;
  if (GetLastError() == ERROR_IO_PENDING) {
    if (WaitForSingleObject(sh.answerEvent, kAnswerWaitMs) == WAIT_OBJECT_0 &&
        GetOverlappedResult(sh.answerHandle, &sh.answerOv, &written, FALSE))
      return true;
    // The record and text must stay put until the write has ended.
    CancelIo(sh.answerHandle);
    GetOverlappedResult(sh.answerHandle, &sh.answerOv, &written, TRUE);
  }
  sh.connected = false;
  return false;
}

void PipeMarkNotConnected() {
  PipeShared& sh = Shared();
  LockGuard guard(sh.answerLock);
  sh.answerHandle = nullptr;
  sh.connected = false;
}

void PipeShutdown() {
  PipeShared& sh = Shared();
  sh.run = false;
  LockGuard guard(sh.answerLock);
  if (sh.pipe) {
    CancelIo(sh.pipe);
    DisconnectNamedPipe(sh.pipe);
  }
}

DWORD WINAPI PipeServer(LPVOID) {
  PipeShared& sh = Shared();
  LogLine(kLogServerEntry);
  for (;;) {
    OpenSecurity security;
    if (!security.Init()) return 0;
    SECURITY_ATTRIBUTES sa{sizeof sa, security.memory.get(), TRUE};
    // Only one instance exists at a time: the next is made after this one
    // is closed, so a second client finds the pipe busy.
    win::UniqueHandle pipe(CreateNamedPipeA(
        kPipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, kMaxInstances,
        static_cast<DWORD>(kPipeBufferSize), static_cast<DWORD>(kPipeBufferSize), 0, &sa));
    if (!pipe) return 0;
    {
      LockGuard guard(sh.answerLock);
      sh.pipe = pipe.get();
    }
    if (sh.run) ConnectNamedPipe(pipe.get(), nullptr);  // a client, or the stop

    win::UniqueHandle answerEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    {
      LockGuard guard(sh.answerLock);
      sh.answerEvent = answerEvent.get();
      sh.answerHandle = pipe.get();
      sh.connected = answerEvent.get() != nullptr;
    }
    ServeClient(pipe.get());
    {
      LockGuard guard(sh.answerLock);
      sh.connected = false;
      sh.answerHandle = nullptr;
      sh.answerEvent = nullptr;
      DisconnectNamedPipe(pipe.get());
      sh.pipe = nullptr;
    }
    answerEvent.reset();
    pipe.reset();
    if (!sh.run) {
      LogLine(kLogServerExit);
      return 0;
    }
    LogLine(kLogServerEntry);
  }
}

}  // namespace kelm::svc
