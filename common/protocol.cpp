#include "common/protocol.h"

#include <cstdio>
#include <cstring>

#include "common/textutil.h"

namespace kelm {

std::string_view RequestText(const char* message, std::size_t n) {
  const void* zero = std::memchr(message, '\0', n);
  if (zero) n = static_cast<std::size_t>(static_cast<const char*>(zero) - message);
  if (n > 0 && message[n - 1] == '\r') --n;
  return std::string_view(message, n);
}

namespace {

// Like strtok with ":" as the only delimiter.
struct FieldSplitter {
  std::string_view rest;
  bool Next(std::string_view& field) {
    std::size_t start = rest.find_first_not_of(':');
    if (start == std::string_view::npos) {
      rest = {};
      return false;
    }
    rest.remove_prefix(start);
    std::size_t end = rest.find(':');
    field = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    if (field.size() > kMaxFieldChars) field = field.substr(0, kMaxFieldChars);
    return true;
  }
};

}  // namespace

Request ParseRequest(std::string_view text) {
  Request r;
  FieldSplitter split{text};
  std::string_view name, code, arg;
  if (!split.Next(name)) return r;
  split.Next(code) && split.Next(arg);
  r.isCmd = EqualsNoCase(name, "CMD");
  if (!r.isCmd) return r;
  r.code = ParseDecimal(code);
  r.arg = ParseDecimal(arg);
  return r;
}

std::size_t FormatAnswer(std::uint32_t value, std::uint8_t code, char* out, std::size_t cap) {
  int n = std::snprintf(out, cap, "CMD:%lu:%u\r", static_cast<unsigned long>(value),
                        static_cast<unsigned>(code));
  if (n < 0 || static_cast<std::size_t>(n) >= cap) return 0;
  return static_cast<std::size_t>(n);
}

std::size_t FormatRequest(std::uint32_t code, const std::uint32_t* arg, char* out,
                          std::size_t cap) {
  int n = arg ? std::snprintf(out, cap, "CMD:%lu:%lu\r", static_cast<unsigned long>(code),
                              static_cast<unsigned long>(*arg))
              : std::snprintf(out, cap, "CMD:%lu\r", static_cast<unsigned long>(code));
  if (n < 0 || static_cast<std::size_t>(n) >= cap) return 0;
  return static_cast<std::size_t>(n);
}

static bool AllDigits(std::string_view s) {
  if (s.empty() || s.size() > 10) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

bool ParseAnswer(std::string_view text, std::uint32_t& value, std::uint32_t& code) {
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  if (text.size() < 4 || text.substr(0, 4) != "CMD:") return false;
  text.remove_prefix(4);
  std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view v = text.substr(0, colon), c = text.substr(colon + 1);
  if (!AllDigits(v) || !AllDigits(c) || c.size() > 3) return false;
  std::uint64_t vv = 0;
  for (char ch : v) vv = vv * 10 + static_cast<unsigned>(ch - '0');
  if (vv > 0xFFFFFFFFu) return false;
  value = static_cast<std::uint32_t>(vv);
  code = ParseDecimal(c);
  return code <= 255;
}

}  // namespace kelm
