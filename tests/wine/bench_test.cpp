// The bench itself: the prefix runs 64-bit programs with the version the
// suite's tests expect, and C: is the prefix's drive.
#include <windows.h>

#include <gtest/gtest.h>

TEST(Bench, WindowsXpVersion) {
  OSVERSIONINFOA vi{};
  vi.dwOSVersionInfoSize = sizeof vi;
  ASSERT_TRUE(GetVersionExA(&vi));
  EXPECT_EQ(vi.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  EXPECT_EQ(vi.dwMajorVersion, 5u);
  EXPECT_EQ(vi.dwMinorVersion, 1u);
}

TEST(Bench, NoUnixRootDrive) {
  EXPECT_EQ(GetLogicalDrives() & (1u << ('Z' - 'A')), 0u);
}
