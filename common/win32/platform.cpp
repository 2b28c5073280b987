#include "common/win32/platform.h"

#include <windows.h>

#include <cstring>

namespace kelm::win {

int ServicePlatformVersion() {
  OSVERSIONINFOA vi{};
  vi.dwOSVersionInfoSize = sizeof vi;
  if (!GetVersionExA(&vi)) return 0;
  if (vi.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return 98;
  if (vi.dwPlatformId == VER_PLATFORM_WIN32_NT && vi.dwMajorVersion == 5)
    return vi.dwMinorVersion == 0 ? 2000 : 2001;
  return 0;
}

bool ModuleDirectory(char* dst, unsigned cap) {
  if (cap == 0) return false;
  DWORD n = GetModuleFileNameA(nullptr, dst, cap);
  if (n == 0 || n >= cap) {
    dst[0] = '\0';
    return false;
  }
  char* slash = std::strrchr(dst, '\\');
  if (slash) *slash = '\0';
  return true;
}

}  // namespace kelm::win
