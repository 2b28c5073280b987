// The mount service end to end: the real kelmsvc under the service control
// manager, the stand-in drivers and receiver driven through kelmsim, and
// this process as the tray program's side of the pipe. Every test runs
// once as Windows XP and once as Windows 2000 and ends with the service
// stopped and nothing attached, linked or defined.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "common/win32/diskstore.h"
#include "kelmsim_client.h"
#include "service/logic/mount.h"
#include "service/logic/svclog.h"
#include "svcclient.h"

using namespace kelm::test;
namespace svc = kelm::svc;

namespace {

constexpr char kLog[] = "C:\\kelmlog.txt";
constexpr DWORD kMountWaitMs = 8000;

void Sim(const std::string& args) { ASSERT_EQ(Kelmsim(args).code, 0u) << args; }

std::string Status() { return Kelmsim("status").out; }

// "attached ..." lines of kelmsim status.
std::vector<std::string> Attached() {
  std::vector<std::string> lines;
  SimRun r = Kelmsim("status");
  if (r.code != 0) return {"<kelmsim status failed>"};
  std::istringstream in(r.out);
  for (std::string l; std::getline(in, l);)
    if (l.rfind("attached ", 0) == 0) lines.push_back(l);
  return lines;
}

std::string MonitorLine() {
  std::istringstream in(Status());
  for (std::string l; std::getline(in, l);)
    if (l.rfind("monitor ", 0) == 0) return l;
  return "";
}

// Drive letters whose DOS device names one of the virtual disks.
std::string VirtualDiskLetters() {
  std::string letters;
  for (char l = 'A'; l <= 'Z'; ++l) {
    const char name[] = {l, ':', 0};
    char target[200] = {};
    if (QueryDosDeviceA(name, target, sizeof target) && _strnicmp(target, "\\Device\\kelm\\Kelm", 17) == 0)
      letters += l;
  }
  return letters;
}

bool WaitFor(const std::function<bool()>& done, DWORD ms = kMountWaitMs) {
  for (DWORD t = 0;; t += 100) {
    if (done()) return true;
    if (t >= ms) return false;
    Sleep(100);
  }
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += (all.empty() ? "" : "; ") + l;
  return all.empty() ? "nothing" : all;
}

// Waits until the disk stand-in has n slots attached.
::testing::AssertionResult WaitAttached(std::size_t n, DWORD ms = kMountWaitMs) {
  std::vector<std::string> seen;
  if (WaitFor([&] { return (seen = Attached()).size() == n; }, ms)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "waited " << ms << " ms for " << n
                                       << " attached slot(s); kelmsim status had: " << Joined(seen);
}

// The receiver readings the service has made since the stand-ins were
// installed: one a step while the receiver is present.
unsigned long Readings() { return std::strtoul(Kelmsim("readings").out.c_str(), nullptr, 10); }

::testing::AssertionResult WaitReadings(unsigned long target, DWORD ms) {
  unsigned long seen = 0;
  if (WaitFor([&] { return (seen = Readings()) >= target; }, ms)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "waited " << ms << " ms for " << target
                                       << " receiver readings; the count stayed at " << seen;
}

// Waits until n whole steps of the service have run after the call: the
// step reading now may still be at work, the n after it have read and
// ended once the next one reads. Needs the receiver present and read.
::testing::AssertionResult StepsPass(unsigned n) {
  return WaitReadings(Readings() + n + 1, (n + 4) * 1000);
}

std::string ReadLog() {
  std::ifstream f(kLog, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string KeyIdEntry() {
  char v[32] = {};
  GetProfileStringA("kelmkey", "keyid", "", v, sizeof v);
  return v;
}

void SetVersion(const char* version) {
  kelm::win::RegKey k;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\kelmsvc.exe", 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, k.put(), nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(k.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                 static_cast<DWORD>(std::strlen(version) + 1));
}

void SetInstallType(const char* type) {
  kelm::win::RegKey k;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\kelm", 0, nullptr, 0, KEY_SET_VALUE, nullptr, k.put(),
                            nullptr),
            ERROR_SUCCESS);
  if (type)
    RegSetValueExA(k.get(), "INSTALLTYPE", 0, REG_SZ, reinterpret_cast<const BYTE*>(type),
                   static_cast<DWORD>(std::strlen(type) + 1));
  else
    RegDeleteValueA(k.get(), "INSTALLTYPE");
}

struct Image {
  unsigned slot;
  const char* file;
  std::uint32_t mb;
  const char* password;
  bool autoMount, readOnly;
};

// User 1234 (delay 2): slots 0 and 1 mount by themselves, 2 on request.
// User 5678: slot 0. Slot 3 of user 1234 names a directory.
const Image kUser1234[] = {{0, "kelm_u1_0.img", 33, "alpha", true, false},
                           {1, "kelm_u1_1.img", 40, "", true, true},
                           {2, "kelm_u1_2.img", 34, "gamma1", false, false}};
const Image kUser5678[] = {{0, "kelm_u2_0.img", 35, "delta", true, false}};

void SaveUser(const char* id, const Image* images, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const Image& im = images[i];
    const std::string path = TempPath(im.file);
    ASSERT_TRUE(WriteTestImage(path, im.mb, im.password)) << path;
    kelm::win::SlotSettings s;
    s.valid = true;
    s.imagePath = path;
    s.sizeMb = im.mb;
    s.autoMount = im.autoMount;
    s.readOnly = im.readOnly;
    s.password = im.password;
    ASSERT_EQ(kelm::win::SaveSlot(id, im.slot, s, "2", nullptr), kelm::win::SaveSlotResult::Saved);
  }
}

class Pipe {
 public:
  bool Open() { return c_.OpenWithin(5000); }
  void Close() { c_.Close(); }
  std::string Ask(const std::string& request, int answers = 1) {
    EXPECT_TRUE(c_.Send(request + "\r")) << request;
    std::string all;
    for (int i = 0; i < answers; ++i) all += c_.Read(3000);
    return all;
  }
  void Tell(const std::string& request) { EXPECT_TRUE(c_.Send(request + "\r")) << request; }
  std::string Read(DWORD ms) { return c_.Read(ms); }
  // The four CHECKMOUNT letters, '-' for none.
  std::string Letters() {
    std::string all = Ask("CMD:32776", 4), letters;
    for (int slot = 0; slot < 4; ++slot) {
      unsigned value = 0, code = 0;
      std::size_t at = all.find("CMD:");
      if (at == std::string::npos || std::sscanf(all.c_str() + at, "CMD:%u:%u", &value, &code) != 2 ||
          code != 9 || value % 256 != unsigned(slot))
        return "?" + all;
      letters += value / 256 ? char(value / 256) : '-';
      all = all.substr(all.find('\r', at) + 1);
    }
    return letters;
  }

 private:
  Client c_;
};

struct Platform {
  const char* version;
  int platform;
};

class ServiceMounts : public ::testing::TestWithParam<Platform> {
 protected:
  static void SetUpTestSuite() {
    Svc("-remove");
    Kelmsim("uninstall", true);
    kelm::win::DeleteUser("1234");
    kelm::win::DeleteUser("5678");
    SaveUser("1234", kUser1234, std::size(kUser1234));
    SaveUser("5678", kUser5678, std::size(kUser5678));
    // Slot 3: a directory where the image should be.
    kelm::win::SlotSettings dir;
    dir.valid = dir.autoMount = true;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string d = temp;
    d.pop_back();
    dir.imagePath = d;
    dir.sizeMb = 64;
    kelm::win::SaveSlot("1234", 3, dir, "2", nullptr);
  }
  static void TearDownTestSuite() {
    kelm::win::DeleteUser("1234");
    kelm::win::DeleteUser("5678");
    for (auto* set : {kUser1234, kUser5678})
      for (std::size_t i = 0; i < (set == kUser1234 ? std::size(kUser1234) : std::size(kUser5678)); ++i)
        DeleteFileA(TempPath(set[i].file).c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\kelmsvc.exe");
  }

  void SetUp() override { Start(nullptr); }

  void Start(const char* installType) {
    SetVersion(GetParam().version);
    SetInstallType(installType);
    ASSERT_EQ(Kelmsim("install").code, 0u);
    // The highest letter now in use decides the letters.
    first_ = svc::PickDriveLetter(GetLogicalDrives());
    ASSERT_NE(first_, 0);
    logStart_ = ReadLog().size();
    ASSERT_EQ(Svc("-install").exitCode, 0u);
    ScHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ScHandle s(OpenServiceA(scm.get(), "KelmSvr", SERVICE_ALL_ACCESS));
    ASSERT_TRUE(s && StartServiceA(s.get(), 0, nullptr)) << GetLastError();
    SERVICE_STATUS st{};
    ASSERT_TRUE(WaitFor([&] { return QueryState(st) && st.dwCurrentState == SERVICE_RUNNING; }))
        << "waited " << kMountWaitMs << " ms for KelmSvr to run; its state stayed " << st.dwCurrentState;
    ASSERT_TRUE(pipe_.Open()) << "no connection to the service pipe within 5 s";
  }

  void TearDown() override {
    pipe_.Close();
    RunResult r = Svc("-remove");
    EXPECT_NE(r.out.find("stopped."), std::string::npos) << r.out;
    // Whatever was mounted went with the service.
    EXPECT_EQ(Attached(), std::vector<std::string>{}) << GetParam().version;
    EXPECT_EQ(VirtualDiskLetters(), "") << GetParam().version;
    Kelmsim("fail none", true);
    Kelmsim("uninstall", true);
    SetInstallType(nullptr);
  }

  std::string L(int offset) const { return std::string(1, char(first_ + offset)); }
  // "DE--" for the first two letters on slots 0 and 1, and so on.
  std::string Expect(const char* pattern) const {
    std::string r;
    for (const char* p = pattern; *p; ++p) r += *p == '-' ? '-' : char(first_ + (*p - '0'));
    return r;
  }
  std::string NewLog() const { return ReadLog().substr(logStart_); }
  bool Xp() const { return GetParam().platform == svc::kPlatformXp; }

  ::testing::AssertionResult WaitLetters(const char* pattern) {
    const std::string want = Expect(pattern);
    std::string seen;
    if (WaitFor([&] { return (seen = pipe_.Letters()) == want; })) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "waited " << kMountWaitMs << " ms for CHECKMOUNT letters " << want
                                         << "; the last answer was " << seen;
  }

  Pipe pipe_;
  char first_ = 0;
  std::size_t logStart_ = 0;
};

std::string AttachedLine(unsigned slot, char letter, bool ro, unsigned mb, const char* file) {
  return "attached " + std::to_string(slot) + " " + letter + ": " + (ro ? "yes " : "no ") + std::to_string(mb) +
         " " + TempPath(file);
}

}  // namespace

TEST_P(ServiceMounts, KeyArrivalMountsTheUsersDisks) {
  EXPECT_EQ(pipe_.Ask("CMD:32774"), "CMD:3:7\r");
  Sim("key 1234");
  ASSERT_TRUE(WaitLetters("01--"));
  EXPECT_EQ(Attached(), (std::vector<std::string>{AttachedLine(0, first_, false, 33, "kelm_u1_0.img"),
                                                  AttachedLine(1, char(first_ + 1), true, 40, "kelm_u1_1.img")}));
  EXPECT_EQ(pipe_.Ask("CMD:32774"), "CMD:5:7\r");
  EXPECT_EQ(pipe_.Ask("CMD:32775"), "CMD:1234:8\r");
  EXPECT_EQ(MonitorLine().substr(0, 13), "monitor 1234 ");
  EXPECT_EQ(KeyIdEntry(), "1234");
  EXPECT_EQ(VirtualDiskLetters(), L(0) + L(1));
  // The third slot on request, and away again.
  pipe_.Tell("CMD:32777:2");
  ASSERT_TRUE(WaitLetters("012-"));
  EXPECT_EQ(Attached().size(), 3u);
  pipe_.Tell("CMD:32777:2");
  ASSERT_TRUE(WaitLetters("01--"));
  EXPECT_EQ(Attached().size(), 2u);
  pipe_.Tell("CMD:32777:4");  // no such slot
  pipe_.Tell("CMD:32777:3");  // a directory: never mounts
  EXPECT_EQ(pipe_.Letters(), Expect("01--"));
  // The key stays: nothing changes for longer than the delay.
  ASSERT_TRUE(StepsPass(3));
  EXPECT_EQ(pipe_.Letters(), Expect("01--"));
}

TEST_P(ServiceMounts, KeyLostTellsTheConnectedClient) {
  Sim("key 1234");
  ASSERT_TRUE(WaitLetters("01--"));
  Sim("key none");
  // Delay 2: the third step without the key reports it.
  std::string notice = pipe_.Read(6000);
  EXPECT_EQ(notice, "CMD:1234:1\r");
  EXPECT_EQ(pipe_.Letters(), Expect("01--"));
  EXPECT_EQ(Attached().size(), 2u);
  // KEYBACK keeps the disks; the next loss is reported again.
  pipe_.Tell("CMD:32773");
  EXPECT_EQ(pipe_.Read(6000), "CMD:1234:1\r");
  EXPECT_EQ(pipe_.Letters(), Expect("01--"));
  // KEYTIMEOUT dismounts.
  pipe_.Tell("CMD:32772");
  ASSERT_TRUE(WaitLetters("----"));
  EXPECT_EQ(Attached(), std::vector<std::string>{});
  EXPECT_EQ(pipe_.Ask("CMD:32774"), "CMD:3:7\r");
  EXPECT_EQ(pipe_.Ask("CMD:32775"), "CMD:0:8\r");
  EXPECT_EQ(MonitorLine().substr(0, 10), "monitor 0 ");
  EXPECT_EQ(KeyIdEntry(), "0");
  // The key comes back: mounted again at once.
  Sim("key 1234");
  ASSERT_TRUE(WaitLetters("01--"));
}

TEST_P(ServiceMounts, AnotherKeyCountsAsTheFirstOnesLoss) {
  Sim("key 1234");
  ASSERT_TRUE(WaitLetters("01--"));
  Sim("key 5678");
  EXPECT_EQ(pipe_.Read(6000), "CMD:1234:1\r");
  EXPECT_EQ(pipe_.Letters(), Expect("01--"));  // still the first user's disks
  pipe_.Tell("CMD:32772");
  // The second key is taken up at the next reading.
  ASSERT_TRUE(WaitAttached(1));
  EXPECT_EQ(Attached()[0], AttachedLine(0, first_, false, 35, "kelm_u2_0.img"));
  EXPECT_EQ(pipe_.Ask("CMD:32775"), "CMD:5678:8\r");
}

TEST_P(ServiceMounts, WithoutClientALossDismountsAtOnce) {
  pipe_.Close();
  Sim("key 1234");
  ASSERT_TRUE(WaitAttached(2));
  Sim("key none");
  ASSERT_TRUE(WaitAttached(0));
  EXPECT_EQ(VirtualDiskLetters(), "");
  // Another user's key mounts that user's disk.
  Sim("key 5678");
  ASSERT_TRUE(WaitAttached(1));
  EXPECT_EQ(Attached()[0], AttachedLine(0, first_, false, 35, "kelm_u2_0.img"));
  // A receiver that goes away ends the mount without waiting for the delay.
  Sim("receiver unplug");
  ASSERT_TRUE(WaitAttached(0, 3000));
  Sim("receiver plug");
  ASSERT_TRUE(WaitAttached(1));
  // No value from the receiver: its handle is closed, the next reading fails
  // and ends the mount, the one after reopens it. Nothing mounts meanwhile.
  Sim("key noreading");
  ASSERT_TRUE(WaitAttached(0, 4000));
  // Only every other step reads now; two more readings span a reopening.
  const unsigned long from = Readings();
  ASSERT_TRUE(WaitReadings(from + 2, 7000));
  EXPECT_TRUE(Attached().empty());
  Sim("key 5678");
  ASSERT_TRUE(WaitAttached(1));
  Sim("receiver fail");
  ASSERT_TRUE(WaitAttached(0, 3000));
  Sim("receiver ok");
  ASSERT_TRUE(WaitAttached(1));
  // A key nobody owns mounts nothing.
  Sim("key 4242");
  ASSERT_TRUE(WaitAttached(0));
  ASSERT_TRUE(StepsPass(2));
  EXPECT_TRUE(Attached().empty());
  ASSERT_TRUE(pipe_.Open());
  EXPECT_EQ(pipe_.Ask("CMD:32775"), "CMD:0:8\r");
}

TEST_P(ServiceMounts, UnmountAllAndReload) {
  Sim("key 1234");
  ASSERT_TRUE(WaitLetters("01--"));
  pipe_.Tell("CMD:32770");  // watching stops with the dismount
  ASSERT_TRUE(WaitLetters("----"));
  ASSERT_TRUE(StepsPass(2));  // the key is still heard, but not acted on
  EXPECT_EQ(pipe_.Letters(), "----");
  pipe_.Tell("CMD:32769");  // RELOAD: watching again, the key is heard anew
  ASSERT_TRUE(WaitLetters("01--"));
}

TEST_P(ServiceMounts, AttachFailuresLeaveNothingBehind) {
  struct Case {
    const char* inject;
    const char* clear;
    const char* xpLog;
  } cases[] = {
      {"fail create-link", "fail none", svc::kLogXpSymLinkFail},
      {"fail open-file", "fail none", svc::kLogXpOpenFileFail},
      {"fail volume", "fail none", svc::kLogXpVolumeOpenFail},
      {"disk stop", "disk start", svc::kLogXpControlOpenFail},
  };
  Sim("key 1234");
  for (const Case& c : cases) {
    Sim(c.inject);
    pipe_.Tell("CMD:32769");  // RELOAD: the key is taken up again at the next step
    // Any answer means RELOAD has been served.
    EXPECT_NE(pipe_.Ask("CMD:32774").find(":7\r"), std::string::npos) << c.inject;
    if (Xp()) {
      // On disk the message's line feed is CR LF.
      std::string line = c.xpLog;
      line.insert(line.size() - 1, "\r");
      EXPECT_TRUE(WaitFor([&] { return NewLog().find(line) != std::string::npos; }))
          << c.inject << ": no log line " << line << " in:\n" << NewLog();
    }
    // The step that tries is over: the undo is complete.
    ASSERT_TRUE(StepsPass(1)) << c.inject;
    EXPECT_EQ(pipe_.Letters(), "----") << c.inject;
    // A stopped driver has nothing attached and cannot be asked.
    if (std::strcmp(c.inject, "disk stop") != 0) {
      EXPECT_EQ(Attached(), std::vector<std::string>{}) << c.inject;
    }
    EXPECT_EQ(VirtualDiskLetters(), "") << c.inject;
    Sim(c.clear);
    pipe_.Tell("CMD:32770");
    pipe_.Tell("CMD:32769");
    ASSERT_TRUE(WaitLetters("01--")) << c.inject;
    pipe_.Tell("CMD:32770");
    ASSERT_TRUE(WaitLetters("----")) << c.inject;
  }
}

TEST_P(ServiceMounts, MissingMonitorIsReportedAndTheDisksStillMount) {
  Sim("monitor stop");
  Sim("key 1234");
  ASSERT_TRUE(WaitLetters("01--"));
  EXPECT_EQ(KeyIdEntry(), "1234");  // the shell extension's entry is written anyway
  // The warning comes up without holding up the service.
  HWND box = nullptr;
  EXPECT_TRUE(WaitFor([&] { return (box = FindWindowA(nullptr, "Information")) != nullptr; }, 5000))
      << "no window \"Information\" within 5 s";
  EXPECT_EQ(pipe_.Ask("CMD:32774"), "CMD:5:7\r");
  if (box) {
    char text[200] = {};
    EnumChildWindows(
        box,
        [](HWND child, LPARAM out) -> BOOL {
          char t[200] = {};
          GetWindowTextA(child, t, sizeof t);
          if (std::strstr(t, "file system service")) std::strcpy(reinterpret_cast<char*>(out), t);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, "Open the file system service fail. please wait a moment and try again.");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([] { return FindWindowA(nullptr, "Information") == nullptr; }, 3000))
        << "the window \"Information\" still there after 3 s";
  }
  Sim("monitor start");
}

TEST_P(ServiceMounts, RefusedDismountsKeepTheLetters) {
  Sim("key 1234");
  ASSERT_TRUE(WaitLetters("01--"));
  // Requests are served in order: CHECKMOUNT answers after the dismount
  // before it is done.
  Sim("fail link-removal");
  pipe_.Tell("CMD:32777:0");
  EXPECT_EQ(pipe_.Letters(), Expect("01--"));
  Sim("fail close-all");
  pipe_.Tell("CMD:32770");
  EXPECT_EQ(pipe_.Letters(), Expect("01--"));
  EXPECT_EQ(Attached().size(), 2u);
  // The state drops to 3 before the dismount is tried.
  EXPECT_EQ(pipe_.Ask("CMD:32774"), "CMD:3:7\r");
  Sim("fail none");  // the stop then takes everything away
}

TEST_P(ServiceMounts, SoftwareModeFollowsSetUser) {
  TearDown();
  Start("SOFTWARE");
  // The key is not listened to in this mode: the steps that mount the
  // logged-in user's disk never read the receiver.
  const unsigned long readings = Readings();
  Sim("key 1234");
  pipe_.Tell("CMD:34816:5678");
  ASSERT_TRUE(WaitLetters("0---"));
  EXPECT_EQ(Attached(), std::vector<std::string>{AttachedLine(0, first_, false, 35, "kelm_u2_0.img")});
  EXPECT_EQ(Readings(), readings);
  pipe_.Tell("CMD:34816:0");
  ASSERT_TRUE(WaitLetters("----"));
  pipe_.Tell("CMD:34816:1234");
  ASSERT_TRUE(WaitLetters("01--"));
  EXPECT_EQ(pipe_.Ask("CMD:32775"), "CMD:1234:8\r");
  // The next two are settled when they are served: a step here acts only
  // when the logged-in user changes, and GETKEY shows no change.
  pipe_.Tell("CMD:34816:5678");  // another user while one is logged in: ignored
  EXPECT_EQ(pipe_.Ask("CMD:32775"), "CMD:1234:8\r");
  EXPECT_EQ(pipe_.Letters(), Expect("01--"));
  pipe_.Tell("CMD:32772");  // KEYTIMEOUT means nothing here
  EXPECT_EQ(pipe_.Letters(), Expect("01--"));
  EXPECT_EQ(pipe_.Ask("CMD:32775"), "CMD:1234:8\r");
  pipe_.Tell("CMD:34816:0");
  ASSERT_TRUE(WaitLetters("----"));
  EXPECT_EQ(Attached(), std::vector<std::string>{});
  pipe_.Tell("CMD:34816:5678");
  ASSERT_TRUE(WaitLetters("0---"));
}

INSTANTIATE_TEST_SUITE_P(Platforms, ServiceMounts,
                         ::testing::Values(Platform{"winxp", svc::kPlatformXp},
                                           Platform{"win2k", svc::kPlatform2000}),
                         [](const ::testing::TestParamInfo<Platform>& p) { return std::string(p.param.version); });
