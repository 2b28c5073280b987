// The folder decoration's INI writer as a function from file text to file
// text (pure). The file calls live in common/win32/lockdecor.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace kelm::profile {

// A line is read in pieces of at most this many characters; each piece
// counts as a line of its own.
inline constexpr std::size_t kLinePiece = 989;

// Sets key = value in section of an INI text and returns the whole new
// text, the way MyWritePrivateProfileString rewrites its file:
// - each piece loses one trailing LF or CR, then one more; text after a NUL
//   byte in a piece is ignored; empty lines are dropped;
// - "[name]" starts a section; any other line is split at its first "="
//   (no "=": a key without value); a line with an empty key is dropped;
// - in the first section whose name equals `section` (case ignored) every
//   key equal to `key` (case ignored) takes `value`, or key = value is
//   appended to that section; without such a section, a new one is
//   appended at the end;
// - written back as "[name]", then "key=value" lines, then an empty line,
//   each ended by CR LF.
// Lines before the first section header are kept, written first without a
// header, followed by an empty line; they never match `section`.
std::string RewriteProfileText(std::string_view text, std::string_view section, std::string_view key,
                               std::string_view value);

// Looks up key in the first section named `section` (both case ignored)
// the way the rewrite reads the text; false when absent.
bool FindProfileValue(std::string_view text, std::string_view section, std::string_view key,
                      std::string& value);

}  // namespace kelm::profile
