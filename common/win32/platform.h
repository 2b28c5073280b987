// Which Windows the program runs on.
#pragma once

namespace kelm::win {

// 98 for the Windows 9x platform, 2000 for NT 5.0, 2001 for NT 5.x above 5.0,
// 0 for anything else (the service's platform version).
int ServicePlatformVersion();

// The directory of the running program (module file name cut at the last
// backslash), without a trailing backslash, into dst (capacity cap).
bool ModuleDirectory(char* dst, unsigned cap);

}  // namespace kelm::win
