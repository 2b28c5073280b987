// The Windows 98 form of the disk stand-in answers KelmCtl's requests as
// KelmCtl sends them, taking each slot from the disk configuration store.
// Runs in a prefix of its own (the two forms cannot share a session).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "common/desvariant.h"
#include "common/win32/handles.h"
#include "kelmsim_client.h"

namespace {

using kelm::win::RegKey;
using kelm::test::TempPath;
using kelm::win::UniqueHandle;

constexpr DWORD kCheck = 0x22001f, kSetUser = 0x220013, kMount = 0x220007, kLetter = 0x22001b,
                kDismount = 0x22000b, kDismountAll = 0x220017;

DWORD Kelmsim(const std::string& args) { return kelm::test::Kelmsim(args).code; }

std::string Status() {
  kelm::test::SimRun r = kelm::test::Kelmsim("status");
  EXPECT_EQ(r.code, 0u);
  return r.out;
}

// One slot of the disk configuration store, password stored under
// "QUENTOR" as two blocks.
void WriteSlot(const char* user, int n, const std::string& image, DWORD sizeMb, const char* readOnly,
               const char* password) {
  RegKey key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string("SOFTWARE\\kelm\\") + user).c_str(), 0, nullptr,
                            0, KEY_SET_VALUE, nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
  auto text = [&](const char* name, const std::string& v) {
    RegSetValueExA(key.get(), (name + std::to_string(n)).c_str(), 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(v.c_str()), static_cast<DWORD>(v.size() + 1));
  };
  text("Valid", "yes");
  text("ImageFile", image);
  text("ReadOnly", readOnly);
  RegSetValueExA(key.get(), ("ImageFileSize" + std::to_string(n)).c_str(), 0, REG_DWORD,
                 reinterpret_cast<const BYTE*>(&sizeMb), 4);
  std::uint8_t pass[16] = {};
  std::memcpy(pass, password, std::strlen(password));
  ASSERT_TRUE(kelm::CipherEncrypt("QUENTOR", pass, sizeof pass));
  RegSetValueExA(key.get(), ("pass" + std::to_string(n)).c_str(), 0, REG_BINARY, pass, sizeof pass);
}

UniqueHandle OpenKelm() {
  return UniqueHandle(
      CreateFileA("\\\\.\\kelm", 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
}

bool Send(DWORD code, const void* in, DWORD inLen, void* out = nullptr, DWORD outLen = 0) {
  UniqueHandle h = OpenKelm();
  if (!h) return false;
  DWORD n = 0;
  return DeviceIoControl(h.get(), code, const_cast<void*>(in), inLen, out, outLen, &n, nullptr) != FALSE;
}

bool SetUser(std::uint32_t id) {
  std::uint8_t in[100] = {};
  std::memcpy(in, &id, 4);
  const std::string text = std::to_string(id);
  std::memcpy(in + 10, text.c_str(), text.size() + 1);
  return Send(kSetUser, in, sizeof in);
}

bool SlotRequest(DWORD code, std::uint8_t slot, std::uint32_t id) {
  std::uint8_t in[100] = {};
  in[0] = slot;
  std::memcpy(in + 1, &id, 4);
  return Send(code, in, sizeof in);
}

char Letter(std::uint8_t slot) {
  std::uint8_t drive = 0xFF;
  if (!Send(kLetter, &slot, 1, &drive, 1)) return 0;
  return static_cast<char>('A' + drive);
}

class Standins98 : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(Kelmsim("install win98"), 0u);
    good_ = TempPath("standin98a.img");
    other_ = TempPath("standin98b.img");
    ASSERT_TRUE(kelm::test::WriteTestImage(good_, 40, "pw1", 0, true, true));
    ASSERT_TRUE(kelm::test::WriteTestImage(other_, 33, ""));
    WriteSlot("1234", 0, good_, 40, "no", "pw1");
    WriteSlot("1234", 1, other_, 33, "yes", "");
    WriteSlot("1234", 2, good_, 40, "no", "wrong");
    WriteSlot("1234", 3, TempPath("standin98missing.img"), 40, "no", "pw1");
  }
  static void TearDownTestSuite() {
    DeleteFileA(good_.c_str());
    DeleteFileA(other_.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\kelm\\1234");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\kelm");
    EXPECT_EQ(Kelmsim("uninstall"), 0u);
  }
  void TearDown() override {
    Kelmsim("fail none");
    Send(kDismountAll, nullptr, 0);
  }
  static std::string good_, other_;
};
std::string Standins98::good_, Standins98::other_;

TEST_F(Standins98, RunsAsWindows98) {
  OSVERSIONINFOA vi{};
  vi.dwOSVersionInfoSize = sizeof vi;
  ASSERT_TRUE(GetVersionExA(&vi));
  EXPECT_EQ(vi.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
}

TEST_F(Standins98, MountQueryAndDismount) {
  ASSERT_TRUE(Send(kCheck, nullptr, 0));
  ASSERT_TRUE(SetUser(1234));
  const DWORD before = GetLogicalDrives();
  ASSERT_TRUE(SlotRequest(kMount, 0, 1234));
  const char a = Letter(0);
  ASSERT_GE(a, 'D');
  EXPECT_NE(GetLogicalDrives() & (1u << (a - 'A')), 0u);
  EXPECT_EQ(before & (1u << (a - 'A')), 0u);
  ASSERT_TRUE(SlotRequest(kMount, 1, 1234));
  const char b = Letter(1);
  EXPECT_EQ(b, a + 1);  // the letter after the highest one in use
  EXPECT_EQ(Status(), "attached 0 " + std::string(1, a) + ": no 40 " + good_ + "\nattached 1 " +
                          std::string(1, b) + ": yes 33 " + other_ + "\nmonitor - - 0\nreceiver present 0\n");
  EXPECT_FALSE(SlotRequest(kMount, 0, 1234));  // already mounted
  ASSERT_TRUE(SlotRequest(kDismount, 0, 1234));
  EXPECT_EQ(Letter(0), 0);
  EXPECT_EQ(GetLogicalDrives() & (1u << (a - 'A')), 0u);
  ASSERT_TRUE(Send(kDismountAll, nullptr, 0));
  EXPECT_EQ(GetLogicalDrives(), before);
  EXPECT_EQ(Status().find("attached"), std::string::npos);
}

TEST_F(Standins98, RefusedMounts) {
  ASSERT_TRUE(SetUser(1234));
  EXPECT_FALSE(SlotRequest(kMount, 2, 1234));  // stored password does not open the image
  EXPECT_FALSE(SlotRequest(kMount, 3, 1234));  // image file missing
  EXPECT_FALSE(SlotRequest(kMount, 4, 1234));  // no such slot
  EXPECT_FALSE(SlotRequest(kMount, 0, 999));   // not the user that was set
  ASSERT_TRUE(SetUser(999));
  EXPECT_FALSE(SlotRequest(kMount, 0, 999));  // user without configuration
  EXPECT_FALSE(SlotRequest(kDismount, 0, 999));  // nothing mounted
  EXPECT_EQ(Status().find("attached"), std::string::npos);
}

TEST_F(Standins98, InjectedFailures) {
  ASSERT_TRUE(SetUser(1234));
  struct Case {
    const char* name;
    bool (*request)();
  } cases[] = {
      {"check", [] { return Send(kCheck, nullptr, 0); }},
      {"set-user", [] { return SetUser(1234); }},
      {"mount", [] { return SlotRequest(kMount, 0, 1234); }},
      {"dismount-all", [] { return Send(kDismountAll, nullptr, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(Kelmsim(std::string("fail ") + c.name), 0u);
    EXPECT_FALSE(c.request());
    ASSERT_EQ(Kelmsim("fail none"), 0u);
    EXPECT_TRUE(c.request());
  }
  ASSERT_TRUE(SlotRequest(kMount, 0, 1234));
  ASSERT_TRUE(Letter(0));
  ASSERT_EQ(Kelmsim("fail letter"), 0u);
  EXPECT_EQ(Letter(0), 0);
  ASSERT_EQ(Kelmsim("fail dismount"), 0u);
  EXPECT_FALSE(SlotRequest(kDismount, 0, 1234));
  ASSERT_EQ(Kelmsim("fail none"), 0u);
  EXPECT_TRUE(SlotRequest(kDismount, 0, 1234));
}

TEST_F(Standins98, MonitorAsVxd) {
  UniqueHandle mon(CreateFileA("\\\\.\\kelmmon.vxd", 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE,
                               nullptr));
  ASSERT_TRUE(mon);
  DWORD n = 0;
  EXPECT_TRUE(DeviceIoControl(mon.get(), 0x83000228, const_cast<char*>("1234"), 4, nullptr, 0, &n, nullptr));
  EXPECT_TRUE(DeviceIoControl(mon.get(), 0x83000214, nullptr, 0, nullptr, 0, &n, nullptr));
  EXPECT_NE(Status().find("monitor 1234 - 1\n"), std::string::npos);
}

}  // namespace
