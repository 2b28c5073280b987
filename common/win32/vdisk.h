// The virtual disk driver's devices: opened for each operation and closed
// after it by the returned owner.
#pragma once
#include <windows.h>

#include <cstdint>

#include "common/win32/handles.h"

namespace kelm::win {

// Control device "\\.\kelmgui": read and write access, shared read and
// write, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING. Empty owner on failure
// (GetLastError tells why).
UniqueHandle OpenControlDevice();

// The volume "\\.\X:" of a drive letter, opened the same way.
UniqueHandle OpenVolume(char letter);

// Windows 98 device "\\.\kelm": access 0, no sharing, OPEN_EXISTING,
// FILE_FLAG_DELETE_ON_CLOSE.
UniqueHandle OpenWin98Disk();

// One DeviceIoControl without overlapped record. `returned`, when given,
// receives the byte count (zero when the call leaves it unset). False on
// failure or when h is not a valid handle.
bool SendRequest(HANDLE h, std::uint32_t code, const void* in = nullptr, DWORD inLen = 0,
                 void* out = nullptr, DWORD outLen = 0, DWORD* returned = nullptr);

}  // namespace kelm::win
