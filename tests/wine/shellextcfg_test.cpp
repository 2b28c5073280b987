// kelmsh.dll with the real tray program and service: user 1234's key is
// heard through kelmsim, its disks are mounted, and the extension asks
// KelmCfg for the letters and for the monitor's reload.
#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "shellhost.h"
#include "trayprogram.h"

using namespace kelm::test;
using namespace kelmtest;

namespace {

unsigned long MonitorReloads() {
  std::istringstream in(Kelmsim("status").out);
  unsigned long reloads = 0;
  for (std::string l; std::getline(in, l);) {
    if (l.rfind("monitor ", 0) != 0) continue;
    std::istringstream f(l.substr(8));
    std::string user, configuring;
    f >> user >> configuring >> reloads;
  }
  return reloads;
}

std::string WinIniUser() {
  char v[32] = {};
  GetProfileStringA("kelmkey", "keyid", "", v, sizeof v);
  return v;
}

class ShellWithKelmCfg : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Register();
    InstallHost();
    Svc("-remove");
    Kelmsim("uninstall", true);
    kelm::win::DeleteUser("1234");
    SaveImages("1234", {0, 1}, 2);
    ASSERT_NO_FATAL_FAILURE(PrepareTrayFolder());
  }
  static void TearDownTestSuite() {
    kelm::win::DeleteUser("1234");
    SetRootText("INSTALLTYPE", nullptr);
  }
  void SetUp() override {
    ASSERT_TRUE(deco_.Install());
    SetRootText("INSTALLTYPE", "RFKEY");
    ASSERT_EQ(Kelmsim("install").code, 0u);
    first_ = FirstFreeLetter('D');
    StartService();
    ASSERT_TRUE(tray_.Start());
    ResetStore();
    RemoveTree("C:\\shx");
    CreateDirectoryA("C:\\shx", nullptr);
    CreateDirectoryA("C:\\shx\\dir", nullptr);
    ASSERT_TRUE(WriteFileBytes("C:\\shx\\a.txt", "alpha"));
  }
  void TearDown() override {
    tray_.Close();
    Svc("-remove");
    Kelmsim("uninstall", true);
    RemoveTree("C:\\shx");
    ResetStore();
    SetUser("0");
    deco_.Remove();
  }
  TrayProgram tray_;
  DecorationFiles deco_;
  char first_ = 0;  // FirstFreeLetter() in SetUp
};

TEST_F(ShellWithKelmCfg, KeyHeardThenProtectAndCopyMenu) {
  Sim("key 1234");
  ASSERT_TRUE(tray_.WaitLetters(SlotLetters(first_, "01--"))) << tray_.Letters();
  ASSERT_TRUE(Poll([] { return WinIniUser() == "1234"; }, 10000)) << WinIniUser();
  ASSERT_TRUE(StoreValues("1234", {{"lockfile", "yes"}, {"fileNum", "0"}}));
  ASSERT_TRUE(StoreValues("99", {{"lockfile", "yes"}, {"fileNum", "1"}, {"filelevel0", "2"}, {"filename0", "C:\\shx\\a.txt"}}));

  // The copy submenu lists the mounted letters in slot order.
  std::string out = Host("menu C:\\shx\\dir");
  EXPECT_TRUE(Has(out, "ids 6")) << out;
  EXPECT_TRUE(Has(out, std::string("sub 0 id=4 grayed=0 checks=0 popup=0 text=") + first_ + ":\\")) << out;
  EXPECT_TRUE(Has(out, std::string("sub 1 id=5 grayed=0 checks=0 popup=0 text=") + static_cast<char>(first_ + 1) + ":\\"))
      << out;
  // Another user's item shows no rows.
  out = Host("menu C:\\shx\\a.txt");
  EXPECT_TRUE(Has(out, "ids 0")) << out;

  // Protecting writes the user's list, decorates the folder and makes
  // KelmCfg send the reload to the monitor.
  const unsigned long reloads = MonitorReloads();
  out = Host("invoke C:\\shx\\dir 1");
  EXPECT_EQ(StoredText("1234", "fileNum"), "1") << out;
  EXPECT_EQ(StoredText("1234", "filelevel0"), "2");
  EXPECT_EQ(StoredText("1234", "filename0"), "C:\\shx\\dir");
  EXPECT_NE(ReadFileBytes("C:\\shx\\dir\\Desktop.ini").find("lockfld2.ico"), std::string::npos);
  EXPECT_TRUE(Poll([&] { return MonitorReloads() >= reloads + 1; }, 5000)) << MonitorReloads() << " " << reloads;
  // Cancelling tells the monitor again.
  out = Host("invoke C:\\shx\\dir 2");
  EXPECT_EQ(StoredText("1234", "fileNum"), "0") << out;
  EXPECT_TRUE(Poll([&] { return MonitorReloads() >= reloads + 2; }, 5000)) << MonitorReloads() << " " << reloads;
}

}  // namespace
