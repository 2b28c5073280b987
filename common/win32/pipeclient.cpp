#include "common/win32/pipeclient.h"

#include "common/protocol.h"

namespace kelm::win {

DWORD PipeConnection::Open(const char* name, DWORD waitMs) {
  Close();
  const DWORD start = GetTickCount();
  for (;;) {
    pipe_.reset(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                            nullptr));
    if (pipe_) break;
    const DWORD error = GetLastError();
    if (GetTickCount() - start >= waitMs) return error;
    Sleep(20);
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  SetNamedPipeHandleState(pipe_.get(), &mode, nullptr, nullptr);
  event_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!event_) {
    const DWORD error = GetLastError();
    pipe_.reset();
    return error;
  }
  return 0;
}

void PipeConnection::Close() {
  pipe_.reset();
  event_.reset();
}

bool PipeConnection::Write(std::string_view message) {
  OVERLAPPED ov{};
  ov.hEvent = event_.get();
  DWORD n = 0;
  if (!WriteFile(pipe_.get(), message.data(), static_cast<DWORD>(message.size()), nullptr, &ov) &&
      GetLastError() != ERROR_IO_PENDING)
    return false;
  return GetOverlappedResult(pipe_.get(), &ov, &n, TRUE) && n == message.size();
}

PipeRead PipeConnection::Read(std::string& out, DWORD timeoutMs) {
  char buf[kPipeBufferSize];
  OVERLAPPED ov{};
  ov.hEvent = event_.get();
  DWORD n = 0;
  if (!ReadFile(pipe_.get(), buf, sizeof buf, nullptr, &ov)) {
    if (GetLastError() != ERROR_IO_PENDING) return PipeRead::Closed;
    if (WaitForSingleObject(event_.get(), timeoutMs) != WAIT_OBJECT_0) {
      CancelIo(pipe_.get());
      GetOverlappedResult(pipe_.get(), &ov, &n, TRUE);
      if (n == 0) return PipeRead::Nothing;
    }
  }
  if (!GetOverlappedResult(pipe_.get(), &ov, &n, FALSE) && n == 0) return PipeRead::Closed;
  out.assign(buf, n);
  return PipeRead::Message;
}

}  // namespace kelm::win
