#include "service/logic/svclog.h"

#include <cstdio>

namespace kelm::svc {

std::size_t FormatLogEntry(const LogTime& t, std::string_view message, char* out) {
  char text[kLogEntryMaxChars + 1];
  int n = std::snprintf(text, sizeof text, "%04d:%02d:%02d %s %02d:%02d:%02d: ", t.year,
                        t.month, t.day, "---", t.hour, t.minute, t.second);
  std::size_t len = n < 0 ? 0 : static_cast<std::size_t>(n);
  if (len > kLogEntryMaxChars) len = kLogEntryMaxChars;
  for (std::size_t i = 0; i < message.size() && len < kLogEntryMaxChars; ++i) {
    if (message[i] == '\0') break;  // the message is a C string
    text[len++] = message[i];
  }
  std::size_t o = 0;
  for (std::size_t i = 0; i < len; ++i) {
    if (text[i] == '\n') out[o++] = '\r';
    out[o++] = text[i];
  }
  out[o++] = '\r';
  out[o++] = '\r';
  out[o++] = '\n';
  return o;
}

bool LogNeedsRotation(std::uint64_t currentSize, std::size_t entryBytes) {
  return currentSize > 0 && currentSize + entryBytes > kLogRotateBytes;
}

}  // namespace kelm::svc
