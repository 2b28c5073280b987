// The file-monitor driver: opened for each group of requests and closed
// after it.
#pragma once
#include <windows.h>

#include <cstdint>

#include "common/win32/handles.h"

namespace kelm::win {

enum class MonitorDevice {
  Nt,      // Windows 2000/XP: "\\.\keskmon"
  Win98,   // Windows 98: "\\.\kelmmon.vxd"
};

// Opens the driver. When the Windows 2000/XP device cannot be opened and
// showFailureBox is set, shows "Open the file system service fail. ..."
// (caption "Information", warning icon) before returning an empty owner.
UniqueHandle OpenFileMonitor(MonitorDevice which, bool showFailureBox);

// Tells the driver whose protection list applies (decimal UserId, "0" for
// none, without terminator) and applies it. False when the device cannot be
// opened or a request fails.
bool SendMonitorUser(MonitorDevice which, std::uint32_t userId, bool showFailureBox);

// "yes" before the configuration dialog opens, "no" after it closes; "no"
// is followed by the apply request.
bool SendMonitorConfiguring(MonitorDevice which, bool configuring, bool showFailureBox);

// The reload of the protection lists: the apply request alone.
bool SendMonitorApply(MonitorDevice which, bool showFailureBox);

}  // namespace kelm::win
