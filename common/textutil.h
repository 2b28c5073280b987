// Bounded text helpers shared by every deliverable (pure, no Win32).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kelm {

// Copies src into dst (capacity cap, cap > 0), cutting it to cap-1 bytes;
// dst is always zero-terminated. Returns the number of bytes copied.
std::size_t CopyBounded(char* dst, std::size_t cap, std::string_view src);

// ASCII-only case-insensitive comparison (the suite's texts are 8-bit ANSI;
// bytes of 128 and above compare exactly).
bool EqualsNoCase(std::string_view a, std::string_view b);

// The C library's atoi/strtoul-like decimal conversion used for protocol
// fields: leading white space, an optional sign, then digits up to the first
// other character; no digits gives 0. The result wraps like strtoul's
// conversion to a 32-bit unsigned value.
std::uint32_t ParseDecimal(std::string_view text);

}  // namespace kelm
