// echopipe NAME [CLIENTS]: serves the named pipe NAME (e.g. \\.\PIPE\kelmecho)
// with the mount service's pipe parameters and writes every message back
// unchanged. Like the service it keeps one instance at a time, serves one
// client on it with overlapped reads and writes, then makes the next. Ends
// after CLIENTS clients (0 or none: until killed).
// Exit codes: 0 done, 1 the pipe could not be made, 2 usage.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/protocol.h"
#include "common/win32/handles.h"

namespace {

constexpr DWORD kMaxInstances = 10;
constexpr DWORD kBufferSize = static_cast<DWORD>(kelm::kPipeBufferSize);

struct OpenSecurity {
  kelm::win::LocalMem memory{LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH)};
  bool Init() {
    return memory && InitializeSecurityDescriptor(memory.get(), SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(memory.get(), TRUE, nullptr, FALSE);
  }
};

// Waits for an overlapped operation started on pipe; false when it failed.
bool Finish(HANDLE pipe, OVERLAPPED& ov, BOOL started, DWORD& n) {
  n = 0;
  if (!started) {
    if (GetLastError() != ERROR_IO_PENDING) return false;
    WaitForSingleObject(ov.hEvent, INFINITE);
  }
  return GetOverlappedResult(pipe, &ov, &n, FALSE) != FALSE;
}

// Echoes messages until the client goes or an operation fails (a message
// longer than the buffer included). Returns the messages echoed.
unsigned long ServeClient(HANDLE pipe) {
  kelm::win::UniqueHandle readEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  kelm::win::UniqueHandle writeEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!readEvent || !writeEvent) return 0;
  static char buffer[kBufferSize];
  unsigned long echoed = 0;
  for (;;) {
    OVERLAPPED rov{};
    rov.hEvent = readEvent.get();
    DWORD n = 0;
    if (!Finish(pipe, rov, ReadFile(pipe, buffer, kBufferSize, nullptr, &rov), n)) return echoed;
    if (n == 0) continue;
    OVERLAPPED wov{};
    wov.hEvent = writeEvent.get();
    DWORD written = 0;
    if (!Finish(pipe, wov, WriteFile(pipe, buffer, n, nullptr, &wov), written) || written != n)
      return echoed;
    ++echoed;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3 || argv[1][0] == '\0') {
    std::fprintf(stderr,
                 "usage: echopipe NAME [CLIENTS]\n"
                 "serves NAME (e.g. \\\\.\\PIPE\\kelmecho) as an echo server; CLIENTS 0 or none: until killed\n"
                 "exit codes: 0 done, 1 the pipe could not be made, 2 usage\n");
    return 2;
  }
  const char* name = argv[1];
  char* end = nullptr;
  const unsigned long clients = argc == 3 ? std::strtoul(argv[2], &end, 10) : 0;
  if (argc == 3 && (end == argv[2] || *end != '\0')) {
    std::fprintf(stderr, "echopipe: CLIENTS is not a number\n");
    return 2;
  }
  unsigned long served = 0, messages = 0;
  for (bool first = true; clients == 0 || served < clients; first = false) {
    OpenSecurity security;
    if (!security.Init()) {
      std::fprintf(stderr, "echopipe: security descriptor failed (error %lu)\n", GetLastError());
      return 1;
    }
    SECURITY_ATTRIBUTES sa{sizeof sa, security.memory.get(), TRUE};
    kelm::win::UniqueHandle pipe(CreateNamedPipeA(
        name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
        kMaxInstances, kBufferSize, kBufferSize, 0, &sa));
    if (!pipe) {
      std::fprintf(stderr, "echopipe: cannot create %s (error %lu)\n", name, GetLastError());
      return 1;
    }
    if (first) {
      std::printf("listening on %s\n", name);
      std::fflush(stdout);
    }
    ConnectNamedPipe(pipe.get(), nullptr);  // a client (or one already there)
    messages += ServeClient(pipe.get());
    DisconnectNamedPipe(pipe.get());
    ++served;
  }
  std::printf("served %lu clients, %lu messages\n", served, messages);
  return 0;
}
