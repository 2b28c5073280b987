// The decoration's INI rewrite takes any file text. Input: section, key and
// value (each up to a NUL byte), then the file text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/profiletext.h"

namespace {

std::string_view Field(std::string_view& in) {
  const std::size_t nul = in.find('\0');
  const std::string_view f = in.substr(0, nul);
  in = nul == std::string_view::npos ? std::string_view() : in.substr(nul + 1);
  return f;
}

bool Clean(std::string_view s, bool isKey) {
  for (char c : s)
    if (c == '\r' || c == '\n' || (isKey && c == '=')) return false;
  return !isKey || !s.empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::string section(Field(in)), key(Field(in)), value(Field(in));
  const std::string out = kelm::profile::RewriteProfileText(in, section, key, value);
  if (out.size() < 4 || out.compare(out.size() - 4, 4, "\r\n\r\n") != 0) __builtin_trap();
  if (out.find('\0') != std::string::npos) __builtin_trap();
  if (!Clean(section, false) || !Clean(key, true) || !Clean(value, false) || section.size() + 2 > 987 ||
      key.size() + value.size() + 1 > 987)
    return 0;
  // Every line ends with CR LF.
  for (std::size_t i = 0; i < out.size(); ++i)
    if (out[i] == '\n' && (i == 0 || out[i - 1] != '\r')) __builtin_trap();
  // "[k=v]" would read back as a section header.
  if (key.front() == '[' && !value.empty() && value.back() == ']') return 0;
  // What was written reads back, and a second write changes nothing while
  // every line fits one piece.
  std::string v;
  if (!kelm::profile::FindProfileValue(out, section, key, v) || v != value) __builtin_trap();
  std::size_t longest = 0, start = 0;
  for (std::size_t lf = out.find('\n'); lf != std::string::npos; start = lf + 1, lf = out.find('\n', start))
    longest = lf - start > longest ? lf - start : longest;
  if (longest < kelm::profile::kLinePiece &&
      kelm::profile::RewriteProfileText(out, section, key, value) != out)
    __builtin_trap();
  return 0;
}
