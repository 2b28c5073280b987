// The RF key receiver: found through the device-installation functions
// (USB device interface class, hardware id containing "vid_4b1e") and read
// with one device control request.
#pragma once
#include <windows.h>

#include <cstdint>

#include "common/win32/handles.h"

namespace kelm::win {

// True when a present USB device's hardware id contains "vid_4b1e".
bool ReceiverPresent();

// Opens the first matching device's first interface (read and write,
// shared read and write, OPEN_EXISTING). Empty owner when there is none,
// its detail cannot be read, or the open fails.
UniqueHandle OpenReceiver();

// Reads the key code (0xFFFFFFFF preset, kept when the driver writes
// nothing). On failure the handle is closed, key becomes 0 and the result is
// false: the receiver is gone until the next presence test and open. An
// empty handle fails the same way.
bool ReadReceiverKey(UniqueHandle& receiver, std::uint32_t& key);

}  // namespace kelm::win
