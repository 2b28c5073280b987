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

// The receiver as a key watch reads it, once a step: opened when it is
// present and not open yet, then read; a failed read counts it as closed,
// so the next step looks for it again.
class KeyWatchReceiver {
 public:
  bool Read(std::uint32_t& key);
  // Closes the handle only: the watch still counts the receiver as open
  // (the service's rule), so the next read fails until it is looked for.
  void CloseHandle() { receiver_.reset(); }
  // Closes the handle and forgets it: the next read opens it again.
  void Close() {
    receiver_.reset();
    open_ = false;
  }

 private:
  UniqueHandle receiver_;
  bool open_ = false;
};

}  // namespace kelm::win
