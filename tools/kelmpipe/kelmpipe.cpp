// kelmpipe [--hold MS] [--wait MS] [--stdin] REQUEST...: a small client of
// the service pipe "\\.\PIPE\kelmpip". Sends each request (a CR is added),
// prints "> request" and "< answer" lines, and waits briefly for unasked
// notices. With --stdin it then stays connected like the tray program: every
// line read from standard input is sent as a request, and every message the
// service writes is printed as it arrives, until standard input ends.
// Exit codes: 0 done, 1 usage or I/O error, 2 pipe busy, 3 no pipe,
// 4 the service closed the connection.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/protocol.h"
#include "common/win32/handles.h"
#include "common/win32/pipeclient.h"

namespace {

constexpr char kPipeName[] = "\\\\.\\PIPE\\kelmpip";
constexpr DWORD kAnswerTimeoutMs = 2000;  // for an answer that must come
constexpr DWORD kQuietMs = 300;           // for anything else

int ExpectedAnswers(const std::string& request) {
  kelm::Request r = kelm::ParseRequest(request);
  if (!r.isCmd) return 0;
  if (r.code == kelm::kCmdGetState || r.code == kelm::kCmdGetKey) return 1;
  if (r.code == kelm::kCmdCheckMount) return 4;
  return 0;
}

// The message without its final CR.
std::string Text(std::string message) {
  if (!message.empty() && message.back() == '\r') message.pop_back();
  return message;
}

struct Listener {
  HANDLE pipe;
  HANDLE stop;  // set when standard input has ended
  std::atomic<bool> closed{false};
};

// Prints whatever the service writes, answers and notices alike, until the
// service closes the connection or the stop event is set.
DWORD WINAPI Listen(LPVOID arg) {
  auto* l = static_cast<Listener*>(arg);
  kelm::win::UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  for (;;) {
    char buf[kelm::kPipeBufferSize];
    OVERLAPPED ov{};
    ov.hEvent = event.get();
    DWORD n = 0;
    if (!ReadFile(l->pipe, buf, sizeof buf, nullptr, &ov) && GetLastError() != ERROR_IO_PENDING) break;
    HANDLE waits[2] = {event.get(), l->stop};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
      CancelIo(l->pipe);
      GetOverlappedResult(l->pipe, &ov, &n, TRUE);
      return 0;
    }
    if (!GetOverlappedResult(l->pipe, &ov, &n, FALSE) && n == 0) break;
    std::printf("< %s\n", Text(std::string(buf, n)).c_str());
    std::fflush(stdout);
  }
  l->closed = true;
  std::printf("connection closed by the service\n");
  std::fflush(stdout);
  return 0;
}

// The listener reads with an event of its own while this thread writes.
int RunStdin(kelm::win::PipeConnection& pipe) {
  kelm::win::UniqueHandle stop(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  Listener listener{pipe.get(), stop.get()};
  kelm::win::UniqueHandle thread(CreateThread(nullptr, 0, Listen, &listener, 0, nullptr));
  if (!thread) return 1;
  char line[kelm::kPipeBufferSize];
  while (!listener.closed && std::fgets(line, sizeof line, stdin)) {
    std::string request = line;
    while (!request.empty() && (request.back() == '\n' || request.back() == '\r')) request.pop_back();
    if (request.empty() || request[0] == '#') continue;
    std::printf("> %s\n", request.c_str());
    std::fflush(stdout);
    if (!pipe.Write(request + "\r")) {
      std::printf("write failed (error %lu)\n", static_cast<unsigned long>(GetLastError()));
      return 4;
    }
  }
  if (listener.closed) return 4;
  SetEvent(stop.get());
  WaitForSingleObject(thread.get(), 5000);
  std::printf("disconnected\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  DWORD holdMs = 0, waitMs = 0;
  bool fromStdin = false;
  int first = 1;
  for (;;) {
    if (first < argc && std::strcmp(argv[first], "--stdin") == 0) {
      fromStdin = true;
      ++first;
    } else if (first + 1 < argc && (std::strcmp(argv[first], "--hold") == 0 ||
                                    std::strcmp(argv[first], "--wait") == 0)) {
      DWORD v = static_cast<DWORD>(std::strtoul(argv[first + 1], nullptr, 10));
      (argv[first][2] == 'h' ? holdMs : waitMs) = v;
      first += 2;
    } else {
      break;
    }
  }
  if (first >= argc && holdMs == 0 && !fromStdin) {
    std::fprintf(stderr, "usage: kelmpipe [--hold MS] [--wait MS] [--stdin] REQUEST...\n");
    return 1;
  }
  kelm::win::PipeConnection pipe;
  if (const DWORD error = pipe.Open(kPipeName, waitMs)) {
    if (error == ERROR_PIPE_BUSY) {
      std::printf("pipe busy\n");
      return 2;
    }
    std::printf("no pipe (error %lu)\n", static_cast<unsigned long>(error));
    return 3;
  }
  std::printf("connected\n");
  for (int i = first; i < argc; ++i) {
    std::string request = argv[i];
    std::printf("> %s\n", request.c_str());
    std::fflush(stdout);
    if (!pipe.Write(request + "\r")) {
      std::printf("write failed (error %lu)\n", static_cast<unsigned long>(GetLastError()));
      return 4;
    }
    int expected = ExpectedAnswers(request);
    for (int got = 0;; ++got) {
      std::string answer;
      const kelm::win::PipeRead r = pipe.Read(answer, got < expected ? kAnswerTimeoutMs : kQuietMs);
      if (r == kelm::win::PipeRead::Closed) {
        std::printf("connection closed by the service\n");
        return 4;
      }
      if (r == kelm::win::PipeRead::Nothing) {
        if (got == 0) std::printf("  (no answer)\n");
        break;
      }
      std::printf("< %s\n", Text(answer).c_str());
      std::fflush(stdout);
    }
  }
  if (fromStdin) return RunStdin(pipe);
  if (holdMs) {
    std::printf("holding the connection %lu ms\n", static_cast<unsigned long>(holdMs));
    std::fflush(stdout);
    Sleep(holdMs);
  }
  std::printf("disconnected\n");
  return 0;
}
