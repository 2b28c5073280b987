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

// What happens when the Windows 2000/XP device cannot be opened: nothing,
// the warning "Open the file system service fail. ..." (caption
// "Information", warning icon) shown before returning, or the same warning
// left on screen by a thread of its own while the caller goes on (one at a
// time): a service thread must not wait for somebody to answer it.
enum class MonitorFailureBox { None, Modal, NoWait };

// Opens the driver; an empty owner on failure, after the failure box.
UniqueHandle OpenFileMonitor(MonitorDevice which, MonitorFailureBox box);

// Tells the driver whose protection list applies (decimal UserId, "0" for
// none, without terminator) and applies it. False when the device cannot be
// opened or a request fails.
bool SendMonitorUser(MonitorDevice which, std::uint32_t userId, MonitorFailureBox box);

// "yes" before the configuration dialog opens, "no" after it closes; "no"
// is followed by the apply request.
bool SendMonitorConfiguring(MonitorDevice which, bool configuring, MonitorFailureBox box);

// The reload of the protection lists: the apply request alone.
bool SendMonitorApply(MonitorDevice which, MonitorFailureBox box);

}  // namespace kelm::win
