// The client end of a message-mode named pipe such as the service's
// "\\.\PIPE\kelmpip": one overlapped connection whose operations never
// overlap each other, so one event serves them all.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

#include "common/win32/handles.h"

namespace kelm::win {

enum class PipeRead {
  Message,  // one message arrived
  Nothing,  // none within the time
  Closed,   // the server closed the connection (or the read failed)
};

class PipeConnection {
 public:
  // Opens the pipe in message read mode, retrying a missing or busy one
  // every 20 ms until waitMs has passed. 0, or the last error
  // (ERROR_PIPE_BUSY while the one instance is taken).
  DWORD Open(const char* name, DWORD waitMs = 0);
  void Close();
  HANDLE get() const { return pipe_.get(); }
  // Writes one message; false unless all of it was written.
  bool Write(std::string_view message);
  // One message within timeoutMs, its bytes as written (a final CR kept).
  PipeRead Read(std::string& out, DWORD timeoutMs);

 private:
  UniqueHandle pipe_;
  UniqueHandle event_;
};

}  // namespace kelm::win
