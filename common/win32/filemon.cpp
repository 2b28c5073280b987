#include "common/win32/filemon.h"

#include <cstdio>

#include "common/devices.h"
#include "common/win32/vdisk.h"

namespace kelm::win {

UniqueHandle OpenFileMonitor(MonitorDevice which, bool showFailureBox) {
  if (which == MonitorDevice::Win98)
    return UniqueHandle(CreateFileA(dev::kWin98MonitorDevice, 0, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  char name[32];
  std::snprintf(name, sizeof name, dev::kMonitorDeviceFormat, dev::kMonitorDeviceName);
  UniqueHandle h(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h && showFailureBox) {
    const DWORD err = GetLastError();
    MessageBoxA(nullptr, dev::kMonitorOpenFailText, dev::kMonitorOpenFailCaption, MB_OK | MB_ICONWARNING);
    SetLastError(err);
  }
  return h;
}

bool SendMonitorUser(MonitorDevice which, std::uint32_t userId, bool showFailureBox) {
  UniqueHandle h = OpenFileMonitor(which, showFailureBox);
  if (!h) return false;
  const dev::DecimalText text = dev::FormatDecimal(userId);
  const bool set = SendRequest(h.get(), dev::kIoctlMonitorSetUser, text.text, text.length);
  const bool applied = SendRequest(h.get(), dev::kIoctlMonitorApply);
  return set && applied;
}

bool SendMonitorConfiguring(MonitorDevice which, bool configuring, bool showFailureBox) {
  UniqueHandle h = OpenFileMonitor(which, showFailureBox);
  if (!h) return false;
  const auto text = dev::MonitorConfiguringText(configuring);
  bool ok = SendRequest(h.get(), dev::kIoctlMonitorConfiguring, text.data(), static_cast<DWORD>(text.size()));
  if (!configuring) ok = SendRequest(h.get(), dev::kIoctlMonitorApply) && ok;
  return ok;
}

bool SendMonitorApply(MonitorDevice which, bool showFailureBox) {
  UniqueHandle h = OpenFileMonitor(which, showFailureBox);
  return h && SendRequest(h.get(), dev::kIoctlMonitorApply);
}

}  // namespace kelm::win
