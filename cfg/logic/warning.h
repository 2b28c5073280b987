// The key-loss warning's countdown: one step per second, deciding from
// each reading of the receiver whether the warning goes on or ends.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kelm::cfg {

enum class WarningEnd { None, KeyBack, KeyTimeout };

// What one reading of the receiver gave.
enum class ReceiverRead {
  Failed,     // the receiver could not be opened or read
  NoReading,  // 0xFFFFFFFF: no code at the moment
  Code,       // a code, compared with the expected one
};

class WarningCountdown {
 public:
  // total: the seconds of "m_delayvalue" as converted (may be 0 or negative).
  explicit WarningCountdown(int total) : total_(total) {}
  int total() const { return total_; }
  int position() const { return position_; }
  // Advances the bar; false (bar untouched) when it was already full, which
  // ends the warning with KEYTIMEOUT without reading the receiver.
  bool Advance();

 private:
  int total_;
  int position_ = 0;
};

// The end a reading brings, after a successful Advance.
WarningEnd DecideReading(ReceiverRead read, std::uint32_t code, std::uint32_t expected);

// The countdown as "m_delayvalue" gives it: the decimal conversion of the
// text (no digits give 0).
int CountdownSeconds(const char* text);

// Line 2 with the countdown put in: the text is a translation, so only
// %d, %i and %u (with flags, width and precision) take the number and "%%"
// gives "%"; any other conversion is shown as written instead of being
// handed to printf with an argument it does not have. out is always
// terminated; the line is cut to fit.
void FormatCountdownLine(const char* format, int seconds, char* out, std::size_t cap);

}  // namespace kelm::cfg
