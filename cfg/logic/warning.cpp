#include "cfg/logic/warning.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/textutil.h"

namespace kelm::cfg {

bool WarningCountdown::Advance() {
  if (position_ + 1 > total_) return false;
  ++position_;
  return true;
}

WarningEnd DecideReading(ReceiverRead read, std::uint32_t code, std::uint32_t expected) {
  switch (read) {
    case ReceiverRead::Failed: return WarningEnd::KeyTimeout;
    case ReceiverRead::NoReading: return WarningEnd::None;
    case ReceiverRead::Code: return code == expected ? WarningEnd::KeyBack : WarningEnd::None;
  }
  return WarningEnd::None;
}

int CountdownSeconds(const char* text) { return static_cast<int>(ParseDecimal(text ? text : "")); }

void FormatCountdownLine(const char* format, int seconds, char* out, std::size_t cap) {
  if (cap == 0) return;
  std::size_t used = 0;
  auto put = [&](std::string_view s) {
    const std::size_t room = cap - 1 - used;
    const std::size_t n = s.size() < room ? s.size() : room;
    std::memcpy(out + used, s.data(), n);
    used += n;
  };
  const char* p = format;
  while (*p && used + 1 < cap) {
    if (*p != '%') {
      const char* next = std::strchr(p, '%');
      const std::size_t n = next ? static_cast<std::size_t>(next - p) : std::strlen(p);
      put({p, n});
      p += n;
      continue;
    }
    if (p[1] == '%') {
      put("%");
      p += 2;
      continue;
    }
    // A conversion: flags, width, precision, then its letter.
    const char* q = p + 1;
    while (*q && std::strchr("-+ #0", *q)) ++q;
    while (*q >= '0' && *q <= '9') ++q;
    if (*q == '.') {
      ++q;
      while (*q >= '0' && *q <= '9') ++q;
    }
    const std::size_t convLen = static_cast<std::size_t>(q - p);
    if ((*q == 'd' || *q == 'i' || *q == 'u') && convLen < 16) {
      char conversion[20];
      std::memcpy(conversion, p, convLen);
      conversion[convLen] = *q == 'u' ? 'u' : 'd';
      conversion[convLen + 1] = '\0';
      char number[64];
      if (*q == 'u')
        std::snprintf(number, sizeof number, conversion, static_cast<unsigned>(seconds));
      else
        std::snprintf(number, sizeof number, conversion, seconds);
      put(number);
      p = q + 1;
      continue;
    }
    put({p, static_cast<std::size_t>(*q ? q - p + 1 : q - p)});
    p = *q ? q + 1 : q;
  }
  out[used] = '\0';
}

}  // namespace kelm::cfg
