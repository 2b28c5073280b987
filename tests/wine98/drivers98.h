// What the Windows 98 stand-ins hold, as kelmsim reports it: the disk
// stand-in's slot letters and what the file monitor was last told.
#pragma once
#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "kelmsim_client.h"
#include "procwindows.h"

namespace kelm::test {

// Slot letters as the disk stand-in holds them ("DE--", "????" when kelmsim
// does not answer); the user the file monitor was last told ("-" when never
// since the last reset, "?" when not reported) and whether it was told the
// configuration is open.
struct Drivers {
  std::string slots = "????";
  std::string monitor = "?";
  std::string configuring = "?";
};

inline Drivers Look() {
  Drivers d;
  SimRun r = Kelmsim("status", true);
  if (r.code != 0) return d;
  d.slots = "----";
  std::istringstream in(r.out);
  for (std::string l; std::getline(in, l);) {
    unsigned slot = 0;
    char letter = 0;
    if (std::sscanf(l.c_str(), "attached %u %c:", &slot, &letter) == 2 && slot < 4) d.slots[slot] = letter;
    if (l.rfind("monitor ", 0) == 0) {
      std::istringstream f(l.substr(8));
      f >> d.monitor >> d.configuring;
    }
  }
  return d;
}

inline bool WaitSlots(const std::string& want, DWORD ms = 10000) {
  return Poll([&] { return Look().slots == want; }, ms);
}

}  // namespace kelm::test
