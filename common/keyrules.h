// Rules of the key watch that the mount service and KelmCtl share: how a
// reading counts against the current key, which readings name a user, and
// what a SETUSER request does. Pure logic.
#pragma once
#include <cstdint>

#include "common/storefields.h"

namespace kelm {

// What one key event (value v, current key c) comes to once the counters
// have been brought up to date.
enum class KeyEventKind {
  Arrived,   // v is a key and c is none: counters 0, v becomes current
  Same,      // v equals c: counters 0
  Counting,  // c is missing or replaced, the delay is not used up: counted
  Lost,      // the delay was used up: counters 0, c counts as lost
};

// v not 0 and different from c counts as a change, v 0 as an absence; the
// other counter starts again. Lost on the step after the delay was used up.
KeyEventKind CountKeyEvent(std::uint32_t v, std::uint32_t c, std::uint32_t delay, std::uint32_t& absentCount,
                           std::uint32_t& changeCount);

// True when key (not 0) is one of the table's UserIds.
bool InUserIdTable(const std::uint32_t (&ids)[store::kMaxUsers], std::uint32_t key);

// SETUSER in software mode: the first user is logged in; 0 or the same user
// logs out; another user while one is logged in is ignored.
void ApplySetUser(std::uint32_t& setUser, std::uint32_t& currentKey, std::uint32_t user);

}  // namespace kelm
