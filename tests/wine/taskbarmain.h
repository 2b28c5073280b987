// main() of a gtest program that needs Wine's desktop with a taskbar and
// real input: it runs itself again on such a desktop, and refuses to run
// without xdotool.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>

#include "shelldesktop.h"
#include "xinput.h"

namespace kelmtest {

inline int RunTestsOnTaskbarDesktop(int argc, char** argv) {
  const int respawned = RespawnOnTaskbarDesktop();
  if (respawned >= 0) return respawned;
  ::testing::InitGoogleTest(&argc, argv);
  if (!x::Available()) {
    std::printf("xdotool cannot be run from Wine: install xdotool\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}

}  // namespace kelmtest
