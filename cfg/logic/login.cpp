#include "cfg/logic/login.h"

#include <cstring>

#include "common/storefields.h"
#include "common/textutil.h"

namespace kelm::cfg {

LoginFields CheckLoginFields(const char* userId, const char* password) {
  if (!*userId || !*password) return LoginFields::Missing;
  if (userId[0] == '0') return LoginFields::LeadingZero;
  if (std::strlen(userId) > 4) return LoginFields::TooLong;
  return LoginFields::Ok;
}

bool LoginPasswordMatches(const std::uint8_t* pas, std::size_t len, const char* typed) {
  if (len == 0) return false;
  char stored[store::kLoginPassReadLimit];
  store::DecodeLoginPassword(pas, len, stored, sizeof stored);
  return EqualsNoCase(stored, typed);
}

}  // namespace kelm::cfg
