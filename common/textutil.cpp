#include "common/textutil.h"

#include <cstring>

namespace kelm {

std::size_t CopyBounded(char* dst, std::size_t cap, std::string_view src) {
  if (cap == 0) return 0;
  std::size_t n = src.size() < cap - 1 ? src.size() : cap - 1;
  if (n) std::memcpy(dst, src.data(), n);
  dst[n] = '\0';
  return n;
}

static char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

std::uint32_t ParseDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::uint32_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
  return negative ? 0u - value : value;
}

}  // namespace kelm
