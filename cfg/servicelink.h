// ServiceLink: the tray program's connection to the mount service's pipe.
// Requests are written from the user-interface thread; a reader thread
// hands every notification to the main window with SendMessageA, so all
// handling runs on the user-interface thread.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string_view>

#include "cfg/logic/servicelines.h"
#include "common/win32/handles.h"

namespace kelm::cfg {

inline constexpr UINT kMsgServiceNotify = 0x7FFF;
// Sent by the reader as it ends (wParam: its connection number).
inline constexpr UINT kMsgReaderEnded = WM_APP + 0x101;

// A request write that does not complete within this time counts as a
// broken pipe (the service bounds its own answer writes the same way).
inline constexpr DWORD kWriteWaitMs = 10000;

class ServiceLink {
 public:
  // onBroken runs on the user-interface thread when a live connection ends.
  ServiceLink(HWND window, std::function<void()> onBroken);
  ~ServiceLink();
  ServiceLink(const ServiceLink&) = delete;
  ServiceLink& operator=(const ServiceLink&) = delete;

  // Opens the pipe and starts the reader; false when the pipe cannot be
  // opened or the previous reader has not ended yet.
  bool Connect();
  bool connected() const { return connected_; }

  // One request line; false when it was not written.
  bool Send(const RequestLine& line);

  // The main window's handler of kMsgReaderEnded.
  void ReaderEnded(WPARAM connection);

  // Tests of the bound only: replaces kWriteWaitMs.
  void SetWriteWaitForTest(DWORD ms) { writeWaitMs_ = ms; }

 private:
  void Abandon();

  HWND window_;
  std::function<void()> onBroken_;
  win::UniqueHandle pipe_;
  win::UniqueHandle writeEvent_;
  win::UniqueHandle stop_;
  win::UniqueHandle reader_;
  OVERLAPPED write_{};
  bool connected_ = false;
  unsigned connection_ = 0;
  DWORD writeWaitMs_ = kWriteWaitMs;
};

}  // namespace kelm::cfg
