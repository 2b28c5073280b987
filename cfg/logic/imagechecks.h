// The checks the Create button runs before an image file is written; no
// Windows calls, so they are tested natively.
#pragma once
#include <cstdint>

namespace kelm::cfg {

// Largest slot size in MB for the platform version (98, 2000, 2001 as
// ServicePlatformVersion gives them); 0 on a platform the program does not
// run on.
std::uint32_t ImageSizeLimitMb(int platformVersion);

// The size field as an unsigned decimal number: text that is not a number
// gives 0, a negative number or one beyond 32 bits gives 0xFFFFFFFF (never
// a small value by wrapping).
std::uint32_t ParseImageSizeMb(const char* text);

// 32 < sizeMb <= limitMb.
bool ImageSizeAccepted(std::uint32_t sizeMb, std::uint32_t limitMb);

// The drive must have more than sizeMb + 10 MB free.
bool EnoughFreeSpace(bool freeValid, std::uint64_t freeMb, std::uint32_t sizeMb);

}  // namespace kelm::cfg
