// The log-in dialog's field rules and the check of a typed password
// against the user's stored "PAS" value.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kelm::cfg {

// Each field is read with at most this many characters.
inline constexpr std::size_t kLoginFieldChars = 9;

enum class LoginFields { Ok, Missing, LeadingZero, TooLong };

LoginFields CheckLoginFields(const char* userId, const char* password);

// True when typed equals the password stored in the "PAS" value (len
// bytes as read, 0 when the read failed) without regard to case.
bool LoginPasswordMatches(const std::uint8_t* pas, std::size_t len, const char* typed);

}  // namespace kelm::cfg
