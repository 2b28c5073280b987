// KelmCtl's Win32 side: Windows Sockets and the single-instance mutex, the
// hidden "KelmMonitor" dialog with its three timers and WM_APP commands, and
// the devices, store and windows the state machine works through.
#include "ctl98/program.h"

#include <winsock.h>

#include "common/devices.h"
#include "common/win32/diskstore.h"
#include "common/win32/filemon.h"
#include "common/win32/handles.h"
#include "common/win32/receiver.h"
#include "common/win32/vdisk.h"
#include "ctl98/logic/control.h"
#include "kelmctl.h"

namespace kelm::ctl {

namespace {

// Win32 callbacks run the state machine; nothing may leave them by throwing.
template <typename F>
void Guarded(F&& f) noexcept {
  try {
    f();
  } catch (...) {
  }
}

class Sockets {
 public:
  Sockets() {
    WSADATA data;
    ok_ = WSAStartup(MAKEWORD(1, 1), &data) == 0;
  }
  ~Sockets() {
    if (ok_) WSACleanup();
  }
  Sockets(const Sockets&) = delete;
  Sockets& operator=(const Sockets&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

// "CMainCtrl98", held from start-up until the window goes.
class InstanceLock {
 public:
  bool Acquire() {
    mutex_.reset(CreateMutexA(nullptr, FALSE, kMutexName));
    if (!mutex_) return false;
    const DWORD w = WaitForSingleObject(mutex_.get(), kMutexWaitMs);
    held_ = w == WAIT_OBJECT_0 || w == WAIT_ABANDONED;
    if (!held_) mutex_.reset();
    return held_;
  }
  void Release() {
    if (held_) ReleaseMutex(mutex_.get());
    held_ = false;
    mutex_.reset();
  }
  ~InstanceLock() { Release(); }

 private:
  win::UniqueHandle mutex_;
  bool held_ = false;
};

void CALLBACK HideTimer(HWND, UINT, UINT_PTR, DWORD);
void CALLBACK WaitReceiverTimer(HWND, UINT, UINT_PTR, DWORD);
void CALLBACK KeyWatchTimer(HWND, UINT, UINT_PTR, DWORD);

class Win32Operations final : public CtlOperations {
 public:
  void SetWindow(HWND w) { window_ = w; }

  void Beep(unsigned frequency, unsigned milliseconds) override { ::Beep(frequency, milliseconds); }

  bool DiskRequest(std::uint32_t code, const std::uint8_t* in, std::uint32_t inLength, std::uint8_t* out,
                   std::uint32_t outLength) override {
    win::UniqueHandle disk = win::OpenWin98Disk();
    return disk && win::SendRequest(disk.get(), code, in, inLength, out, outLength);
  }

  void SetMonitorUser(std::uint32_t user) override {
    win::SendMonitorUser(win::MonitorDevice::Win98, user, win::MonitorFailureBox::None);
    // The shell extension reads the present user from here.
    WriteProfileStringA("kelmkey", "keyid", dev::FormatDecimal(user).text);
  }

  void ReadUser(std::uint32_t user, store::StoredUser& out) override { win::ReadUserConfig(user, out, false); }
  int ReadUserIds(std::uint32_t* ids, int capacity) override { return win::ReadUserIds(ids, capacity); }
  int ReadInstallType() override { return win::ReadInstallType(); }
  bool ReceiverPresent() override { return win::ReceiverPresent(); }

  bool ReadKeyCode(std::uint32_t& key) override { return receiver_.Read(key); }
  void CloseReceiver() override { receiver_.Close(); }

  bool StartTimer(unsigned id, unsigned periodMs) override {
    TIMERPROC proc = id == kTimerHide ? HideTimer : id == kTimerWaitReceiver ? WaitReceiverTimer : KeyWatchTimer;
    return SetTimer(window_, id, periodMs, proc) != 0;
  }
  void StopTimer(unsigned id) override { KillTimer(window_, id); }

  bool HideWindow() override {
    const bool wasVisible = IsWindowVisible(window_) != FALSE;
    SetWindowPos(window_, nullptr, 0, 0, 0, 0,
                 SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return wasVisible;
  }

  bool Notify(std::uint8_t kind, std::uint32_t value) override {
    const HWND tray = FindWindowA(nullptr, kTrayWindowTitle);
    if (!tray) return false;
    return SendMessageA(tray, kMsgServiceNotify, kind, static_cast<LPARAM>(value)) == 1;
  }

  void ShowError(ErrorBox box) override {
    // Owned by the window, so that closing the program takes the box along.
    MessageBoxA(window_, ErrorBoxText(box), kErrorCaption, MB_OK | MB_ICONWARNING);
  }

  bool RegisterServiceProcess(bool on) override {
    // Windows 98 only: looked up at run time.
    using Fn = DWORD(WINAPI*)(DWORD, DWORD);
    const HMODULE kernel = LoadLibraryA("KERNEL32.DLL");
    if (!kernel) return false;
    const auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "RegisterServiceProcess")));
    const DWORD result = fn ? fn(GetCurrentProcessId(), on ? 1 : 0) : 0;
    FreeLibrary(kernel);
    return result == 1;
  }

 private:
  HWND window_ = nullptr;
  win::KeyWatchReceiver receiver_;
};

// Everything the window owns; only touched on its thread.
struct Program {
  InstanceLock lock;
  CtlState state;
  Win32Operations ops;
};

Program& P() {
  static Program p;
  return p;
}

void CALLBACK HideTimer(HWND, UINT, UINT_PTR, DWORD) { Guarded([] { HideTick(P().state, P().ops); }); }
void CALLBACK WaitReceiverTimer(HWND, UINT, UINT_PTR, DWORD) {
  Guarded([] { WaitReceiverTick(P().state, P().ops); });
}
void CALLBACK KeyWatchTimer(HWND, UINT, UINT_PTR, DWORD) { Guarded([] { KeyWatchStep(P().state, P().ops); }); }

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Program& p = P();
  switch (msg) {
    case WM_INITDIALOG:
      p.ops.SetWindow(hwnd);
      Guarded([&] { Start(p.state, p.ops); });
      return TRUE;
    case kMsgMonitorRequest: {
      LRESULT answer = 1;
      Guarded([&] {
        answer = RunCommand(p.state, p.ops, static_cast<std::uintptr_t>(lp), static_cast<std::uintptr_t>(wp));
      });
      SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, answer);
      return TRUE;
    }
    case WM_CLOSE:
      p.lock.Release();
      DestroyWindow(hwnd);
      return TRUE;
    case WM_DESTROY:
      p.lock.Release();
      Guarded([&] { End(p.state, p.ops); });
      PostQuitMessage(0);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

int RunProgram(HINSTANCE instance) {
  Sockets sockets;
  if (!sockets.ok()) {
    char text[256] = {};
    LoadStringA(instance, IDS_SOCKETS_FAILED, text, sizeof text);
    MessageBoxA(nullptr, text, kErrorCaption, MB_OK | MB_ICONWARNING);
    return 0;
  }
  // Before the window exists: a second copy never shows the title the tray
  // program looks for.
  if (!P().lock.Acquire()) return 0;
  const HWND window = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_KELMCTL), nullptr, DialogProc, 0);
  if (!window) return 0;
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}

}  // namespace kelm::ctl
