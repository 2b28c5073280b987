// The chain takes any registry text and any shell path. Input: a list of
// operations, each an opcode byte then NUL-separated fields.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "shellext/logic/chain.h"

namespace {

std::string_view Field(std::string_view& in) {
  const std::size_t nul = in.find('\0');
  const std::string_view f = in.substr(0, nul);
  in = nul == std::string_view::npos ? std::string_view() : in.substr(nul + 1);
  return f;
}

void Check(const kelm::shx::ProtectionChain& c) {
  for (const auto& r : c.Records()) {
    if (r.entries.size() > kelm::shx::kMaxChainEntries || r.keyId.size() > kelm::shx::kMaxChainUser)
      __builtin_trap();
    for (const auto& e : r.entries) {
      if (e.path.size() > kelm::shx::kMaxChainPath || e.level.size() > kelm::shx::kMaxChainLevel) __builtin_trap();
      for (char ch : e.path)
        if (ch >= 'A' && ch <= 'Z') __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  kelm::shx::ProtectionChain c;
  while (!in.empty()) {
    const char op = in.front();
    in.remove_prefix(1);
    const std::string_view a = Field(in), b = Field(in);
    switch (op % 5) {
      case 0:
        c.Add(a, b.substr(0, 3), b);
        break;
      case 1:
        c.Remove(a, b);
        break;
      case 2: {
        const auto s = c.Check(a, b);
        std::string owner, level;
        if (c.Owner(b, owner, level) != (s.byMe || s.byOther)) __builtin_trap();
        break;
      }
      case 3:
        if (kelm::shx::FormatWithText(a, b).size() > a.size() * (b.size() + 1)) __builtin_trap();
        break;
      default:
        for (const auto& t : kelm::shx::CopyTargets(static_cast<std::uint32_t>(a.size() * 0x01010101u ^ b.size())))
          if (t.offset < 4 || t.offset > 7) __builtin_trap();
        kelm::shx::BareName(a);
        break;
    }
    Check(c);
  }
  return 0;
}
