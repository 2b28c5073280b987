// The text protocol of the service pipe "\\.\PIPE\kelmpip", shared by the
// service and its clients. Pure logic.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kelm {

// Request codes.
inline constexpr std::uint32_t kCmdReload = 32769;
inline constexpr std::uint32_t kCmdUnmountAll = 32770;
inline constexpr std::uint32_t kCmdReceiverBack = 32771;
inline constexpr std::uint32_t kCmdKeyTimeout = 32772;
inline constexpr std::uint32_t kCmdKeyBack = 32773;
inline constexpr std::uint32_t kCmdGetState = 32774;
inline constexpr std::uint32_t kCmdGetKey = 32775;
inline constexpr std::uint32_t kCmdCheckMount = 32776;
inline constexpr std::uint32_t kCmdToggleMount = 32777;
inline constexpr std::uint32_t kCmdSetUser = 34816;

// Answer and notice codes.
inline constexpr std::uint8_t kAnsKeyLost = 1;
inline constexpr std::uint8_t kAnsState = 7;
inline constexpr std::uint8_t kAnsKey = 8;
inline constexpr std::uint8_t kAnsDriveLetter = 9;

// State codes answered to GETSTATE.
inline constexpr std::uint32_t kStateNotMounted = 3;
inline constexpr std::uint32_t kStateMounted = 5;

// Key codes with a meaning of their own.
inline constexpr std::uint32_t kNoKey = 0;
inline constexpr std::uint32_t kNoReading = 4294967295u;

// Pipe buffers are 1000 bytes; a request of 1000 bytes or more is refused.
inline constexpr std::size_t kPipeBufferSize = 1000;
inline constexpr std::size_t kMaxRequestBytes = 999;
// Each colon-separated field keeps at most this many characters.
inline constexpr std::size_t kMaxFieldChars = 199;
// "CMD:" + two 10-digit numbers + ":" + CR, with room to spare.
inline constexpr std::size_t kMaxMessageChars = 32;

struct Request {
  bool isCmd = false;       // first field is "CMD" (any case)
  std::uint32_t code = 0;   // second field, 0 when missing
  std::uint32_t arg = 0;    // third field, 0 when missing
};

// The request text of one pipe message of n bytes: up to its first zero
// byte, with one final CR removed.
std::string_view RequestText(const char* message, std::size_t n);

// Splits text at colons (a run of colons is one separator, leading colons
// are skipped), keeps the first three fields, each cut to 199 characters,
// and converts code and argument with ParseDecimal.
Request ParseRequest(std::string_view text);

// "CMD:<value>:<code>" followed by CR into out (capacity cap); returns the
// length without a terminating zero, or 0 when it does not fit.
std::size_t FormatAnswer(std::uint32_t value, std::uint8_t code, char* out, std::size_t cap);

// "CMD:<code>" or "CMD:<code>:<arg>" followed by CR (the client side).
std::size_t FormatRequest(std::uint32_t code, const std::uint32_t* arg, char* out,
                          std::size_t cap);

// Reads an answer or notice "CMD:<value>:<code>" (CR optional); false when
// the text is not one.
bool ParseAnswer(std::string_view text, std::uint32_t& value, std::uint32_t& code);

// The value of a CHECKMOUNT answer: slot plus 256 times the drive letter.
inline constexpr std::uint32_t DriveLetterValue(unsigned slot, std::uint8_t letter) {
  return slot + 256u * letter;
}

}  // namespace kelm
