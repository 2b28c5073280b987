#include "cfg/logic/imagechecks.h"

#include "common/fatimage.h"

namespace kelm::cfg {

std::uint32_t ImageSizeLimitMb(int platformVersion) {
  switch (platformVersion) {
    case 98: return kMaxImageMbWin98;
    case 2000:
    case 2001: return kMaxImageMbNt;
    default: return 0;
  }
}

std::uint32_t ParseImageSizeMb(const char* text) {
  if (!text) return 0;
  const char* p = text;
  while (*p == ' ' || *p == '\t') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  std::uint64_t v = 0;
  bool any = false;
  for (; *p >= '0' && *p <= '9'; ++p) {
    any = true;
    v = v * 10 + static_cast<std::uint64_t>(*p - '0');
    if (v > 0xFFFFFFFFull) v = 0x100000000ull;  // saturate, keep scanning
  }
  if (!any) return 0;
  if (negative && v != 0) return 0xFFFFFFFFu;
  return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v);
}

bool ImageSizeAccepted(std::uint32_t sizeMb, std::uint32_t limitMb) {
  return sizeMb > kMinImageMb - 1 && sizeMb <= limitMb;
}

bool EnoughFreeSpace(bool freeValid, std::uint64_t freeMb, std::uint32_t sizeMb) {
  return freeValid && freeMb > static_cast<std::uint64_t>(sizeMb) + 10;
}

}  // namespace kelm::cfg
