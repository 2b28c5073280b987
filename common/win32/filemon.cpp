#include "common/win32/filemon.h"

#include <atomic>
#include <cstdio>

#include "common/devices.h"
#include "common/win32/vdisk.h"

namespace kelm::win {

namespace {

void ShowFailureBox() {
  MessageBoxA(nullptr, dev::kMonitorOpenFailText, dev::kMonitorOpenFailCaption, MB_OK | MB_ICONWARNING);
}

std::atomic<bool> g_boxShown{false};

DWORD WINAPI FailureBoxThread(LPVOID) {
  ShowFailureBox();
  g_boxShown = false;
  return 0;
}

void ShowFailureBoxNoWait() {
  if (g_boxShown.exchange(true)) return;
  UniqueHandle thread(CreateThread(nullptr, 0, FailureBoxThread, nullptr, 0, nullptr));
  if (!thread) g_boxShown = false;
}

}  // namespace

UniqueHandle OpenFileMonitor(MonitorDevice which, MonitorFailureBox box) {
  if (which == MonitorDevice::Win98)
    return UniqueHandle(CreateFileA(dev::kWin98MonitorDevice, 0, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  char name[32];
  std::snprintf(name, sizeof name, dev::kMonitorDeviceFormat, dev::kMonitorDeviceName);
  UniqueHandle h(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h && box != MonitorFailureBox::None) {
    const DWORD err = GetLastError();
    if (box == MonitorFailureBox::Modal)
      ShowFailureBox();
    else
      ShowFailureBoxNoWait();
    SetLastError(err);
  }
  return h;
}

bool SendMonitorUser(MonitorDevice which, std::uint32_t userId, MonitorFailureBox box) {
  UniqueHandle h = OpenFileMonitor(which, box);
  if (!h) return false;
  const dev::DecimalText text = dev::FormatDecimal(userId);
  const bool set = SendRequest(h.get(), dev::kIoctlMonitorSetUser, text.text, text.length);
  const bool applied = SendRequest(h.get(), dev::kIoctlMonitorApply);
  return set && applied;
}

bool SendMonitorConfiguring(MonitorDevice which, bool configuring, MonitorFailureBox box) {
  UniqueHandle h = OpenFileMonitor(which, box);
  if (!h) return false;
  const auto text = dev::MonitorConfiguringText(configuring);
  bool ok = SendRequest(h.get(), dev::kIoctlMonitorConfiguring, text.data(), static_cast<DWORD>(text.size()));
  if (!configuring) ok = SendRequest(h.get(), dev::kIoctlMonitorApply) && ok;
  return ok;
}

bool SendMonitorApply(MonitorDevice which, MonitorFailureBox box) {
  UniqueHandle h = OpenFileMonitor(which, box);
  return h && SendRequest(h.get(), dev::kIoctlMonitorApply);
}

}  // namespace kelm::win
