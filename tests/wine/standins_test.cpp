// The stand-in drivers answer the suite's requests as the suite sends them:
// the virtual disk driver's two attach sequences, link removal and close
// all, with image checks and injected failures; the file monitor; the RF
// key receiver found and read the suite's way. Driven through kelmsim.
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/win32/handles.h"
#include "kelmsim_client.h"

namespace {

using kelm::test::Kelmsim;
using kelm::test::SimRun;
using kelm::test::TempPath;
using kelm::test::WriteTestImage;
using kelm::win::UniqueHandle;

constexpr DWORD kOpenFile = 0x8000e000, kCreateLink = 0x8000e00c, kLinkRemoval = 0x8000e014,
                kCloseAll = 0x8000e018, kStartup = 0x8000e020, kReadKey = 0x220008;
constexpr std::uint64_t kMb = 1048576;

std::string Status() {
  SimRun r = Kelmsim("status");
  EXPECT_EQ(r.code, 0u);
  return r.out;
}

void Sim(const std::string& args) { ASSERT_EQ(Kelmsim(args).code, 0u) << args; }

void WriteImage(const std::string& path, std::uint32_t sizeMb, const char* password, long lengthDelta = 0,
                bool fat = true) {
  ASSERT_TRUE(WriteTestImage(path, sizeMb, password, lengthDelta, fat)) << path;
}

// OpenFileInfo: allocated with the path length plus 36 bytes, sent with
// FileNameLength + 31.
std::vector<std::uint8_t> Record(const std::string& path, std::uint32_t sizeMb, const char* password,
                                 bool readOnly) {
  const std::string name = "\\??\\" + path;
  std::vector<std::uint8_t> r(path.size() + 36, 0);
  r[4] = readOnly ? 1 : 0;
  std::memcpy(&r[5], password, std::strlen(password));
  const std::uint32_t bytes = sizeMb * static_cast<std::uint32_t>(kMb);
  for (int i = 0; i < 4; ++i) r[16 + i] = static_cast<std::uint8_t>(bytes >> (8 * i));
  r[24] = static_cast<std::uint8_t>(name.size());
  r[25] = static_cast<std::uint8_t>(name.size() >> 8);
  std::memcpy(&r[26], name.data(), name.size());
  r.resize(name.size() + 31);
  return r;
}

UniqueHandle OpenControl() {
  return UniqueHandle(CreateFileA("\\\\.\\kelmgui", GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_NO_BUFFERING, nullptr));
}

UniqueHandle OpenVolume(char letter) {
  const char name[] = {'\\', '\\', '.', '\\', letter, ':', 0};
  return UniqueHandle(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr));
}

bool Send(HANDLE h, DWORD code, const void* in, DWORD len) {
  DWORD n = 0;
  return DeviceIoControl(h, code, const_cast<void*>(in), len, nullptr, 0, &n, nullptr) != FALSE;
}

std::string Drive(char letter) { return std::string(1, letter) + ":"; }

bool Defined(char letter) {
  char target[200] = {};
  return QueryDosDeviceA(Drive(letter).c_str(), target, sizeof target) != 0;
}

void RemoveDefinition(char letter) {
  DefineDosDeviceA(DDD_REMOVE_DEFINITION, Drive(letter).c_str(), nullptr);
}

// Windows 2000: the driver links the letter. On failure *failed names
// the step that failed.
bool Attach2000(char x, int n, const std::vector<std::uint8_t>& rec, std::string* failed = nullptr) {
  std::string step;
  std::string& why = failed ? *failed : step;
  why = "control";
  UniqueHandle ctl = OpenControl();
  if (!ctl) return false;
  const char link[2] = {x, static_cast<char>('0' + n)};
  why = "create-link";
  if (!Send(ctl.get(), kCreateLink, link, 2)) return false;
  why = "volume";
  UniqueHandle vol = OpenVolume(x);
  if (!vol) {
    Send(ctl.get(), kLinkRemoval, link, 2);
    return false;
  }
  why = "open-file";
  if (!Send(vol.get(), kOpenFile, rec.data(), static_cast<DWORD>(rec.size()))) {
    Send(ctl.get(), kLinkRemoval, link, 2);
    return false;
  }
  why.clear();
  return true;
}

// Windows XP: the letter is defined from user mode, then linked.
bool AttachXp(char x, int n, const std::vector<std::uint8_t>& rec, std::string* failed = nullptr) {
  std::string step;
  std::string& why = failed ? *failed : step;
  why = "query";
  if (Defined(x)) return false;
  why = "control";
  UniqueHandle ctl = OpenControl();
  if (!ctl) return false;
  const std::string target = "\\Device\\kelm\\Kelm" + std::to_string(n);
  why = "definition";
  if (!DefineDosDeviceA(DDD_RAW_TARGET_PATH, Drive(x).c_str(), target.c_str())) return false;
  why = "volume";
  UniqueHandle vol = OpenVolume(x);
  if (!vol) {
    ctl.reset();
    RemoveDefinition(x);
    return false;
  }
  const char link[2] = {x, static_cast<char>('0' + n)};
  why = "create-link";
  if (!Send(ctl.get(), kCreateLink, link, 2)) {
    RemoveDefinition(x);
    return false;
  }
  ctl.reset();
  why = "open-file";
  if (!Send(vol.get(), kOpenFile, rec.data(), static_cast<DWORD>(rec.size()))) {
    Send(vol.get(), kLinkRemoval, link, 2);
    RemoveDefinition(x);
    return false;
  }
  why.clear();
  return true;
}

bool Attach(bool xp, char x, int n, const std::vector<std::uint8_t>& rec, std::string* failed = nullptr) {
  return xp ? AttachXp(x, n, rec, failed) : Attach2000(x, n, rec, failed);
}

// The dismount of one slot: volume requests, link removal with '0', and
// on XP the removal of the definition.
bool Unmount(bool xp, char x) {
  if (UniqueHandle vol = OpenVolume(x)) {
    DWORD n = 0;
    DeviceIoControl(vol.get(), 0x90018, nullptr, 0, nullptr, 0, &n, nullptr);
    DeviceIoControl(vol.get(), 0x90020, nullptr, 0, nullptr, 0, &n, nullptr);
    DeviceIoControl(vol.get(), 0x9001c, nullptr, 0, nullptr, 0, &n, nullptr);
  }
  UniqueHandle ctl = OpenControl();
  if (!ctl) return false;
  const char link[2] = {x, '0'};
  if (!Send(ctl.get(), kLinkRemoval, link, 2)) return false;
  if (xp) RemoveDefinition(x);
  return true;
}

std::string Letters() {
  SimRun r = Kelmsim("letters");
  EXPECT_EQ(r.code, 0u);
  return r.out;
}

void ExpectNothingLeft(char x) {
  EXPECT_FALSE(Defined(x)) << x;
  EXPECT_EQ(Letters(), "");
  EXPECT_EQ(GetLogicalDrives() & (1u << (x - 'A')), 0u) << x;
  EXPECT_EQ(Status().find("attached"), std::string::npos);
}

class Standins : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    SimRun r = Kelmsim("install");
    ASSERT_EQ(r.code, 0u);
    image_ = TempPath("standin32.img");
    WriteImage(image_, 32, "secret");
  }
  static void TearDownTestSuite() {
    DeleteFileA(image_.c_str());
    EXPECT_EQ(Kelmsim("uninstall").code, 0u);
    EXPECT_EQ(Kelmsim("uninstall").code, 0u);  // nothing left to remove
  }
  void SetUp() override {
    Sim("fail none");
    Sim("monitor reset");
  }
  void TearDown() override {
    Sim("fail none");
    if (UniqueHandle ctl = OpenControl()) Send(ctl.get(), kCloseAll, nullptr, 0);
    for (char c : {'K', 'L', 'M'}) RemoveDefinition(c);
  }
  static std::string image_;
};
std::string Standins::image_;

TEST_F(Standins, NothingAttachedAfterInstall) {
  EXPECT_EQ(Status(), "monitor - - 0\nreceiver present 0\n");
}

TEST_F(Standins, Windows2000AttachAndDismount) {
  ASSERT_TRUE(Attach2000('K', 0, Record(image_, 32, "secret", false)));
  char target[200] = {};
  ASSERT_NE(QueryDosDeviceA("K:", target, sizeof target), 0u);
  EXPECT_STREQ(target, "\\Device\\kelm\\Kelm0");
  EXPECT_NE(GetLogicalDrives() & (1u << ('K' - 'A')), 0u);
  EXPECT_EQ(Status(), "attached 0 K: no 32 " + image_ + "\nmonitor - - 0\nreceiver present 0\n");
  EXPECT_EQ(Letters(), "K: \\Device\\kelm\\Kelm0\n");  // the driver's link
  ASSERT_TRUE(Unmount(false, 'K'));
  ExpectNothingLeft('K');
}

TEST_F(Standins, WindowsXpAttachAndDismount) {
  ASSERT_TRUE(AttachXp('L', 2, Record(image_, 32, "secret", true)));
  EXPECT_TRUE(Defined('L'));
  EXPECT_EQ(Status(), "attached 2 L: yes 32 " + image_ + "\nmonitor - - 0\nreceiver present 0\n");
  EXPECT_EQ(Letters(), "L: \\Device\\kelm\\Kelm2\n");  // defined from user mode
  ASSERT_TRUE(Unmount(true, 'L'));
  ExpectNothingLeft('L');
}

// Installing over running stand-ins keeps them working and resets their
// settings; what is attached stays attached.
TEST_F(Standins, InstallAgain) {
  ASSERT_TRUE(Attach2000('K', 1, Record(image_, 32, "secret", false)));
  for (const char* step : {"open-file", "volume"}) {
    SCOPED_TRACE(step);
    Sim(std::string("fail ") + step);
    Sim("key 55");
    Sim("install");
    EXPECT_EQ(Status(), "attached 1 K: no 32 " + image_ + "\nmonitor - - 0\nreceiver present 0\n");
    // No failure left: another slot attaches.
    ASSERT_TRUE(AttachXp('L', 3, Record(image_, 32, "secret", false)));
    ASSERT_TRUE(Unmount(true, 'L'));
  }
  ASSERT_TRUE(Unmount(false, 'K'));
  ExpectNothingLeft('K');
  ExpectNothingLeft('L');
}

TEST_F(Standins, StartupRequest) {
  UniqueHandle ctl = OpenControl();
  ASSERT_TRUE(ctl);
  const char x = 'X';
  EXPECT_TRUE(Send(ctl.get(), kStartup, &x, 1));
}

TEST_F(Standins, CloseAllDetachesEverySlot) {
  ASSERT_TRUE(Attach2000('K', 0, Record(image_, 32, "secret", false)));
  ASSERT_TRUE(AttachXp('L', 1, Record(image_, 32, "secret", true)));
  EXPECT_EQ(Status(), "attached 0 K: no 32 " + image_ + "\nattached 1 L: yes 32 " + image_ +
                          "\nmonitor - - 0\nreceiver present 0\n");
  // A slot cannot take a second image, nor a letter a second slot.
  EXPECT_FALSE(Attach2000('M', 0, Record(image_, 32, "secret", false)));
  UniqueHandle ctl = OpenControl();
  const char taken[2] = {'K', '3'};
  EXPECT_FALSE(Send(ctl.get(), kCreateLink, taken, 2));

  Sim("fail close-all");
  EXPECT_FALSE(Send(ctl.get(), kCloseAll, nullptr, 0));
  EXPECT_NE(Status().find("attached 1"), std::string::npos);
  Sim("fail none");
  ASSERT_TRUE(Send(ctl.get(), kCloseAll, nullptr, 0));
  RemoveDefinition('L');  // the XP caller removes its own definitions
  ExpectNothingLeft('K');
  ExpectNothingLeft('L');
}

TEST_F(Standins, EmptyPasswordImageIsPlain) {
  const std::string plain = TempPath("standinplain.img");
  WriteImage(plain, 33, "");
  ASSERT_TRUE(Attach2000('K', 3, Record(plain, 33, "", false)));
  EXPECT_EQ(Status(), "attached 3 K: no 33 " + plain + "\nmonitor - - 0\nreceiver present 0\n");
  ASSERT_TRUE(Unmount(false, 'K'));
  DeleteFileA(plain.c_str());
}

// Images a real driver must refuse; both sequences undo completely.
TEST_F(Standins, BadImagesAreRefused) {
  const std::string bad = TempPath("standinbad.img");
  struct Case {
    const char* what;
    long lengthDelta;
    bool fat;
    const char* recordPassword;
    bool missing;
  } cases[] = {
      {"wrong password", 0, true, "other", false},
      {"empty password for an enciphered image", 0, true, "", false},
      {"one sector too long", 512, true, "secret", false},
      {"one sector too short", -512, true, "secret", false},
      {"no boot sector", 0, false, "secret", false},
      {"missing file", 0, true, "secret", true},
  };
  for (const Case& c : cases) {
    for (bool xp : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (xp ? " (XP)" : " (2000)"));
      DeleteFileA(bad.c_str());
      if (!c.missing) WriteImage(bad, 32, "secret", c.lengthDelta, c.fat);
      EXPECT_FALSE(Attach(xp, 'M', 1, Record(bad, 32, c.recordPassword, false)));
      ExpectNothingLeft('M');
    }
  }
  DeleteFileA(bad.c_str());
}

// A failure at each driver step of each attach sequence: the sequence's
// undo leaves no letter, link or definition behind.
TEST_F(Standins, InjectedFailuresAreUndone) {
  for (const char* step : {"create-link", "open-file"}) {
    for (bool xp : {false, true}) {
      SCOPED_TRACE(std::string(step) + (xp ? " (XP)" : " (2000)"));
      Sim(std::string("fail ") + step);
      std::string failed;
      EXPECT_FALSE(Attach(xp, 'K', 0, Record(image_, 32, "secret", false), &failed));
      EXPECT_EQ(failed, step);
      Sim("fail none");
      ExpectNothingLeft('K');
      // The slot and the letter are usable again.
      ASSERT_TRUE(Attach(xp, 'K', 0, Record(image_, 32, "secret", false)));
      ASSERT_TRUE(Unmount(xp, 'K'));
      ExpectNothingLeft('K');
    }
  }
}

// A failing volume open after the letter is linked (2000) or defined (XP):
// the sequence's undo leaves only the slot attached before; the failure
// stays until "fail none", the other slot never loses its image, and then
// the slot attaches normally.
TEST_F(Standins, FailingVolumeOpenIsUndone) {
  const std::string other = "attached 2 L: yes 32 " + image_ + "\n";
  const std::string rest = "monitor - - 0\nreceiver present 0\n";
  for (bool xp : {false, true}) {
    SCOPED_TRACE(xp ? "XP" : "2000");
    ASSERT_TRUE(Attach(xp, 'L', 2, Record(image_, 32, "secret", true)));
    Sim("fail volume");
    for (int attempt = 0; attempt < 2; ++attempt) {
      std::string failed;
      EXPECT_FALSE(Attach(xp, 'K', 0, Record(image_, 32, "secret", false), &failed));
      EXPECT_EQ(failed, "volume");
      EXPECT_EQ(Status(), other + rest);
      EXPECT_FALSE(Defined('K'));
      EXPECT_EQ(GetLogicalDrives() & (1u << ('K' - 'A')), 0u);
    }
    EXPECT_TRUE(OpenVolume('L'));  // an attached slot keeps its device
    // Any free slot's device is gone, however the letter leads to it.
    ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "M:", "\\Device\\kelm\\Kelm3"));
    EXPECT_FALSE(OpenVolume('M'));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    RemoveDefinition('M');
    Sim("fail none");
    ASSERT_TRUE(Attach(xp, 'K', 0, Record(image_, 32, "secret", false)));
    EXPECT_EQ(Status(), "attached 0 K: no 32 " + image_ + "\n" + other + rest);
    ASSERT_TRUE(Unmount(xp, 'K'));
    ASSERT_TRUE(Unmount(xp, 'L'));
    ExpectNothingLeft('K');
    ExpectNothingLeft('L');
  }
}

// The setting written without kelmsim takes effect at the driver's next
// request: here the Windows 2000 create-link, before the volume open.
TEST_F(Standins, VolumeFailureWrittenDirectlyAppliesAtTheNextRequest) {
  const auto write = [](const char* text) {
    kelm::win::RegKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Kelm\\Parameters", 0,
                              nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.get(), "fail", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                             static_cast<DWORD>(std::strlen(text) + 1)),
              ERROR_SUCCESS);
  };
  write("volume");
  std::string failed;
  EXPECT_FALSE(Attach2000('K', 1, Record(image_, 32, "secret", false), &failed));
  EXPECT_EQ(failed, "volume");
  write("");
  ASSERT_TRUE(Attach2000('K', 1, Record(image_, 32, "secret", false)));
  ASSERT_TRUE(Unmount(false, 'K'));
  ExpectNothingLeft('K');
}

// Without the driver the control device cannot be opened; stopping it
// takes its links with it.
TEST_F(Standins, StoppedDiskDriver) {
  ASSERT_TRUE(Attach2000('K', 0, Record(image_, 32, "secret", false)));
  Sim("disk stop");
  EXPECT_FALSE(OpenControl());
  EXPECT_FALSE(Defined('K'));
  EXPECT_FALSE(Attach2000('K', 0, Record(image_, 32, "secret", false)));
  EXPECT_NE(Kelmsim("status", true).code, 0u);
  Sim("disk start");
  ExpectNothingLeft('K');
}

TEST_F(Standins, InjectedLinkRemovalFailureKeepsTheDisk) {
  ASSERT_TRUE(Attach2000('K', 0, Record(image_, 32, "secret", false)));
  Sim("fail link-removal");
  EXPECT_FALSE(Unmount(false, 'K'));
  EXPECT_TRUE(Defined('K'));
  EXPECT_NE(Status().find("attached 0 K:"), std::string::npos);
  Sim("fail none");
  ASSERT_TRUE(Unmount(false, 'K'));
  ExpectNothingLeft('K');
}

TEST_F(Standins, MalformedRecordsAreRefused) {
  UniqueHandle ctl = OpenControl();
  const char badSlot[2] = {'K', '4'}, badLetter[2] = {'1', '0'};
  EXPECT_FALSE(Send(ctl.get(), kCreateLink, badSlot, 2));
  EXPECT_FALSE(Send(ctl.get(), kCreateLink, badLetter, 2));
  EXPECT_FALSE(Send(ctl.get(), kCreateLink, badSlot, 1));
  const char link[2] = {'K', '0'};
  ASSERT_TRUE(Send(ctl.get(), kCreateLink, link, 2));
  UniqueHandle vol = OpenVolume('K');
  ASSERT_TRUE(vol);
  std::vector<std::uint8_t> rec = Record(image_, 32, "secret", false);
  EXPECT_FALSE(Send(vol.get(), kOpenFile, rec.data(), static_cast<DWORD>(rec.size() - 5)));  // name cut
  std::vector<std::uint8_t> noZero = rec;
  std::memset(&noZero[5], 'a', 11);  // password without its zero
  EXPECT_FALSE(Send(vol.get(), kOpenFile, noZero.data(), static_cast<DWORD>(noZero.size())));
  EXPECT_TRUE(Send(vol.get(), kOpenFile, rec.data(), static_cast<DWORD>(rec.size())));
  vol.reset();
  ASSERT_TRUE(Unmount(false, 'K'));
  ExpectNothingLeft('K');
}

// The monitor records what the suite tells it.
TEST_F(Standins, MonitorRecordsUserSwitchAndReloads) {
  UniqueHandle mon(CreateFileA("\\\\.\\keskmon", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(mon);
  EXPECT_TRUE(Send(mon.get(), 0x83000228, "1234", 4));
  EXPECT_TRUE(Send(mon.get(), 0x83000214, nullptr, 0));
  EXPECT_NE(Status().find("monitor 1234 - 1\n"), std::string::npos);
  EXPECT_TRUE(Send(mon.get(), 0x8300022c, "yes", 3));
  EXPECT_NE(Status().find("monitor 1234 yes 1\n"), std::string::npos);
  EXPECT_TRUE(Send(mon.get(), 0x8300022c, "no", 2));
  EXPECT_TRUE(Send(mon.get(), 0x83000214, nullptr, 0));
  EXPECT_TRUE(Send(mon.get(), 0x83000228, "0", 1));
  EXPECT_NE(Status().find("monitor 0 no 2\n"), std::string::npos);
  EXPECT_FALSE(Send(mon.get(), 0x8300022c, "maybe", 5));
  EXPECT_FALSE(Send(mon.get(), 0x83000228, "", 0));
  mon.reset();
  // Stopped, the monitor cannot be opened; started again, it knows nothing.
  Sim("monitor stop");
  EXPECT_FALSE(UniqueHandle(CreateFileA("\\\\.\\keskmon", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
  Sim("monitor start");
  EXPECT_NE(Status().find("monitor - - 0\n"), std::string::npos);
}

// The receiver search and reading the suite makes.
struct Receiver {
  bool present = false;
  UniqueHandle handle;
};

Receiver FindReceiver() {
  static const GUID usb = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
  Receiver r;
  HDEVINFO set = SetupDiGetClassDevsA(&usb, nullptr, nullptr, 0x12);
  if (set == INVALID_HANDLE_VALUE) return r;
  for (DWORD i = 0;; ++i) {
    SP_DEVINFO_DATA dev{};
    dev.cbSize = sizeof dev;
    if (!SetupDiEnumDeviceInfo(set, i, &dev)) break;
    char id[100] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(set, &dev, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE*>(id),
                                           sizeof id, nullptr))
      continue;
    CharLowerBuffA(id, sizeof id);
    if (!std::strstr(id, "vid_4b1e")) continue;
    r.present = true;
    SP_DEVICE_INTERFACE_DATA ifd{};
    ifd.cbSize = sizeof ifd;
    if (SetupDiEnumDeviceInterfaces(set, &dev, &usb, 0, &ifd)) {
      DWORD size = 0;
      SetupDiGetDeviceInterfaceDetailA(set, &ifd, nullptr, 0, &size, nullptr);
      std::vector<char> storage(size + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
      auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
      detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
      if (SetupDiGetDeviceInterfaceDetailA(set, &ifd, detail, size, nullptr, nullptr))
        r.handle.reset(CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    break;
  }
  SetupDiDestroyDeviceInfoList(set);
  return r;
}

bool ReadKey(HANDLE h, DWORD* code) {
  *code = 0xFFFFFFFF;
  DWORD n = 0;
  return DeviceIoControl(h, kReadKey, nullptr, 0, code, 4, &n, nullptr) != FALSE;
}

TEST_F(Standins, ReceiverReportsWhatItIsTold) {
  Receiver r = FindReceiver();
  ASSERT_TRUE(r.present);
  ASSERT_TRUE(r.handle);
  DWORD code = 0;
  struct Case {
    const char* arg;
    DWORD code;
    const char* status;
  } cases[] = {
      {"1234", 1234, "receiver present 1234\n"},
      {"4000000000", 4000000000u, "receiver present 4000000000\n"},
      {"none", 0, "receiver present 0\n"},
      {"noreading", 0xFFFFFFFF, "receiver present 4294967295\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arg);
    Sim(std::string("key ") + c.arg);
    ASSERT_TRUE(ReadKey(r.handle.get(), &code));
    EXPECT_EQ(code, c.code);
    EXPECT_NE(Status().find(c.status), std::string::npos);
  }
  Sim("key 77");
  Sim("receiver fail");
  EXPECT_FALSE(ReadKey(r.handle.get(), &code));
  EXPECT_NE(Status().find("receiver present 0\n"), std::string::npos);
  Sim("receiver ok");
  ASSERT_TRUE(ReadKey(r.handle.get(), &code));
  EXPECT_EQ(code, 77u);
  Sim("key none");
}

TEST_F(Standins, ReceiverUnplugAndPlug) {
  Sim("key 4321");
  Receiver before = FindReceiver();
  ASSERT_TRUE(before.handle);
  Sim("receiver unplug");
  EXPECT_FALSE(FindReceiver().present);
  DWORD code = 0;
  EXPECT_FALSE(ReadKey(before.handle.get(), &code));  // the open handle is dead
  EXPECT_NE(Status().find("receiver absent 0\n"), std::string::npos);
  Sim("receiver unplug");  // already gone: nothing to do
  Sim("receiver plug");
  Receiver after = FindReceiver();
  ASSERT_TRUE(after.handle);
  ASSERT_TRUE(ReadKey(after.handle.get(), &code));
  EXPECT_EQ(code, 4321u);
  Sim("key none");
}

unsigned long Readings() {
  SimRun r = Kelmsim("readings");
  EXPECT_EQ(r.code, 0u);
  return std::strtoul(r.out.c_str(), nullptr, 10);
}

// Every reading the suite's way counts, failed ones too; kelmsim's own
// (status) do not; the count outlives an unplugged receiver and starts
// again at an install.
TEST_F(Standins, ReceiverCountsTheSuitesReadings) {
  Sim("key 55");
  const unsigned long before = Readings();
  {
    Receiver r = FindReceiver();
    ASSERT_TRUE(r.handle);
    DWORD code = 0;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(ReadKey(r.handle.get(), &code));
    EXPECT_EQ(Readings(), before + 3);
    EXPECT_NE(Status().find("receiver present 55\n"), std::string::npos);
    EXPECT_NE(Status().find("receiver present 55\n"), std::string::npos);
    EXPECT_EQ(Readings(), before + 3);
    Sim("receiver fail");
    EXPECT_FALSE(ReadKey(r.handle.get(), &code));
    Sim("receiver ok");
    EXPECT_EQ(Readings(), before + 4);
  }
  Sim("receiver unplug");
  EXPECT_EQ(Readings(), before + 4);
  Sim("receiver plug");
  Sim("install");
  EXPECT_EQ(Readings(), 0u);
  EXPECT_NE(Status().find("receiver present 0\n"), std::string::npos);  // install: no key
}

TEST_F(Standins, UsageErrors) {
  for (const char* args : {"", "bogus", "key", "key 12x", "key 4294967296", "key -1", "receiver sideways",
                           "fail everything", "fail open-volume", "monitor explode", "disk pause",
                           "status extra", "readings 3", "letters D"}) {
    SCOPED_TRACE(args);
    EXPECT_EQ(Kelmsim(args, true).code, 2u);
  }
}

}  // namespace
