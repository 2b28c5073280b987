#include "common/keyrules.h"

namespace kelm {

KeyEventKind CountKeyEvent(std::uint32_t v, std::uint32_t c, std::uint32_t delay, std::uint32_t& absentCount,
                           std::uint32_t& changeCount) {
  if (v != 0 && c == 0) {
    absentCount = changeCount = 0;
    return KeyEventKind::Arrived;
  }
  if (v == c) {
    absentCount = changeCount = 0;
    return KeyEventKind::Same;
  }
  std::uint32_t& count = v != 0 ? changeCount : absentCount;
  (v != 0 ? absentCount : changeCount) = 0;
  if (count < delay) {
    ++count;
    return KeyEventKind::Counting;
  }
  absentCount = changeCount = 0;
  return KeyEventKind::Lost;
}

bool InUserIdTable(const std::uint32_t (&ids)[store::kMaxUsers], std::uint32_t key) {
  if (key == 0) return false;
  for (std::uint32_t id : ids)
    if (id == key) return true;
  return false;
}

void ApplySetUser(std::uint32_t& setUser, std::uint32_t& currentKey, std::uint32_t user) {
  if (setUser == 0)
    currentKey = setUser = user;
  else if (user == 0 || user == setUser)
    currentKey = setUser = 0;
}

}  // namespace kelm
