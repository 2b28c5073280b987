#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/logic/dispatch.h"
#include "service/logic/svclog.h"
#include "service/logic/svcprogram.h"

namespace svc = kelm::svc;

// ---- log entries -----------------------------------------------------------

static std::string Entry(const svc::LogTime& t, std::string_view msg) {
  char buf[svc::kLogEntryMaxBytes];
  return std::string(buf, svc::FormatLogEntry(t, msg, buf));
}

TEST(ServiceLog, EntryBytes) {
  svc::LogTime t{2004, 3, 5, 9, 7, 3};
  struct Case {
    std::string_view msg;
    std::string bytes;
  } cases[] = {
      {"ServerProc exit\n", "2004:03:05 --- 09:07:03: ServerProc exit\r\n\r\r\n"},
      {"CMD:32774", "2004:03:05 --- 09:07:03: CMD:32774\r\r\n"},
      {"", "2004:03:05 --- 09:07:03: \r\r\n"},
      {"a\nb", "2004:03:05 --- 09:07:03: a\r\nb\r\r\n"},
      {"\r", "2004:03:05 --- 09:07:03: \r\r\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(Entry(t, c.msg), c.bytes) << c.msg;
  EXPECT_EQ(Entry({1999, 12, 31, 23, 59, 59}, "x"), "1999:12:31 --- 23:59:59: x\r\r\n");
}

TEST(ServiceLog, EntryIsCutAt2047Characters) {
  svc::LogTime t{2004, 3, 5, 9, 7, 3};
  std::string big(5000, 'x');
  std::string e = Entry(t, big);
  EXPECT_EQ(e.size(), 2047u + 3u);
  EXPECT_EQ(e.substr(e.size() - 3), "\r\r\n");
  // All line feeds: every kept one doubles, within the bound.
  std::string lfs(5000, '\n');
  std::string e2 = Entry(t, lfs);
  EXPECT_EQ(e2.size(), 25u + 2u * (2047u - 25u) + 3u);
  EXPECT_LE(e2.size(), svc::kLogEntryMaxBytes);
}

TEST(ServiceLog, RotationRule) {
  const std::uint64_t max = svc::kLogRotateBytes;
  struct Case {
    std::uint64_t size;
    std::size_t entry;
    bool rotate;
  } cases[] = {
      {0, 100, false},  {0, 5000000, false}, {max - 100, 100, false},
      {max - 100, 101, true}, {max, 1, true}, {max + 5000, 30, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(svc::LogNeedsRotation(c.size, c.entry), c.rotate) << c.size << "+" << c.entry;
  EXPECT_EQ(max, 4194304u);
}

TEST(ServiceLog, XpMountTextsAreCodePage936) {
  // GBK bytes of the Chinese words: 有该磁盘了 / 连接到 / 失败 / 定义符号连接.
  EXPECT_EQ(std::string(svc::kLogXpLetterDefined), "\xD3\xD0\xB8\xC3\xB4\xC5\xC5\xCC\xC1\xCB");
  EXPECT_EQ(std::string(svc::kLogXpControlOpenFail),
            "\xC1\xAC\xBD\xD3\xB5\xBDkelmgui\xCA\xA7\xB0\xDC\n");
  EXPECT_EQ(std::string(svc::kLogXpDefineFail),
            "\xB6\xA8\xD2\xE5\xB7\xFB\xBA\xC5\xC1\xAC\xBD\xD3\\Device\\kelm\\Kelm\xCA\xA7\xB0\xDC\n");
  EXPECT_EQ(std::string(svc::kLogXpVolumeOpenFail),
            std::string("\xC1\xAC\xBD\xD3\xB5\xBD") + "\\\\??\\A:" + "\xCA\xA7\xB0\xDC\n");
  EXPECT_EQ(std::string(svc::kLogXpSymLinkFail), "IOCTL_CREATE_SYM_LINK\xCA\xA7\xB0\xDC\n");
  EXPECT_EQ(std::string(svc::kLogXpOpenFileFail), "IOCTL_FILE_DISK_OPEN_FILE\xCA\xA7\xB0\xDC\n");
}

// ---- command line, status, error text ---------------------------------------

TEST(ServiceProgram, CommandLine) {
  using A = svc::CommandLineAction;
  struct Case {
    const char* arg;
    A action;
  } cases[] = {
      {nullptr, A::RunService}, {"-install", A::Install}, {"/INSTALL", A::Install},
      {"-InStAlL", A::Install}, {"-remove", A::Remove},   {"/Remove", A::Remove},
      {"-bogus", A::Nothing},   {"/", A::Nothing},        {"-", A::Nothing},
      {"-installx", A::Nothing}, {"install", A::RunService}, {"", A::RunService},
  };
  for (const Case& c : cases)
    EXPECT_EQ(svc::ClassifyCommandLine(c.arg), c.action) << (c.arg ? c.arg : "(none)");
}

TEST(ServiceProgram, StatusSequenceAndCheckPoints) {
  svc::StatusReporter r;
  struct Step {
    std::uint32_t state, exit, hint;
    std::uint32_t accepted, checkPoint;
  } steps[] = {
      {svc::kStateStartPending, 0, 3000, 0, 1},
      {svc::kStateStartPending, 0, 3000, 0, 2},
      {svc::kStateStartPending, 0, 3000, 0, 3},
      {svc::kStateRunning, 0, 0, svc::kAcceptStop, 0},
      {svc::kStateRunning, 0, 0, svc::kAcceptStop, 0},  // interrogate
      {svc::kStateStopPending, 0, 0, svc::kAcceptStop, 4},
      {svc::kStateStopped, 5, 0, svc::kAcceptStop, 0},
  };
  for (const Step& s : steps) {
    const svc::StatusRecord& rec = r.Prepare(s.state, s.exit, s.hint);
    EXPECT_EQ(rec.serviceType, svc::kOwnProcess);
    EXPECT_EQ(rec.currentState, s.state);
    EXPECT_EQ(rec.controlsAccepted, s.accepted);
    EXPECT_EQ(rec.win32ExitCode, s.exit);
    EXPECT_EQ(rec.serviceExitCode, 0u);
    EXPECT_EQ(rec.checkPoint, s.checkPoint);
    EXPECT_EQ(rec.waitHint, s.hint);
  }
}

TEST(ServiceProgram, ErrorText) {
  char buf[svc::kErrorTextSize];
  EXPECT_STREQ(svc::FormatErrorText("The specified service does not exist as an installed service.\r\n",
                                    1060, buf),
               "The specified service does not exist as an installed service. (0x424)");
  EXPECT_STREQ(svc::FormatErrorText("", 5, buf), "");
  std::string fits(256 - 14, 'a');
  EXPECT_EQ(std::string(svc::FormatErrorText(fits, 5, buf)), fits.substr(0, fits.size() - 2) + " (0x5)");
  std::string tooLong(256 - 13, 'a');
  EXPECT_STREQ(svc::FormatErrorText(tooLong, 5, buf), "");
  EXPECT_STREQ(svc::FormatErrorText("x", 0xffffffffu, buf), " (0xffffffff)");
}

// ---- commands ---------------------------------------------------------------

namespace {

// Records the operations a command calls, in order; results are settable.
struct RecordingOps : svc::ServiceOperations {
  svc::ServiceState& s;
  std::vector<std::string> calls;
  std::vector<std::string> answers;
  int unmountAllResult = 0, loadResult = 1, autoMountResult = 0, unmountSlotResult = 0;
  bool sendOk = true;
  explicit RecordingOps(svc::ServiceState& st) : s(st) {}

  void Beep(unsigned f, unsigned ms) override { Add("Beep", f, ms); }
  int UnmountAll() override {
    Add("UnmountAll");
    if (unmountAllResult == 0) {
      for (auto& l : s.driveLetter) l = 0;
      s.kw.stateCode = kelm::kStateNotMounted;
    }
    return unmountAllResult;
  }
  int LoadUserConfig(std::uint32_t k) override { Add("LoadUserConfig", k); return loadResult; }
  void ClearUserConfig() override { Add("ClearUserConfig"); }
  void SetMonitorUser(std::uint32_t u) override { Add("SetMonitorUser", u); }
  int AutoMountAll(std::uint32_t k) override { Add("AutoMountAll", k); return autoMountResult; }
  void MountSlot(unsigned n) override { Add("MountSlot", n); }
  int UnmountSlot(std::uint8_t l) override { Add("UnmountSlot", l); return unmountSlotResult; }
  bool ReloadUserIds() override { Add("ReloadUserIds"); return true; }
  bool ReadKeyCode(std::uint32_t&) override { Add("ReadKeyCode"); return false; }
  void CloseReceiverHandle() override { Add("CloseReceiverHandle"); }
  bool SendAnswer(std::uint32_t v, std::uint8_t c) override {
    char buf[kelm::kMaxMessageChars];
    answers.emplace_back(buf, kelm::FormatAnswer(v, c, buf, sizeof buf));
    return sendOk;
  }
  void Log(std::string_view m) override { calls.push_back("Log " + std::string(m)); }

  template <typename... A>
  void Add(const char* name, A... args) {
    std::string c = name;
    ((c += " " + std::to_string(args)), ...);
    calls.push_back(c);
  }
};

struct Fixture {
  svc::ServiceState s;
  RecordingOps ops{s};
  void Run(std::string_view text) { svc::HandleRequestText(s, ops, text); }
  void Mounted(std::uint32_t key) {
    s.kw.currentKey = key;
    s.kw.mounted = true;
    s.kw.stateCode = kelm::kStateMounted;
  }
};

using Calls = std::vector<std::string>;

}  // namespace

TEST(ServiceCommands, FreshStateAnswers) {
  Fixture f;
  f.Run("CMD:32774");
  f.Run("cmd:32775");
  f.Run("CMD::32776");
  f.Run("CMX:32774");
  f.Run("CMD:12345");
  EXPECT_EQ(f.ops.answers, (Calls{"CMD:3:7\r", "CMD:0:8\r", "CMD:0:9\r", "CMD:1:9\r", "CMD:2:9\r",
                                  "CMD:3:9\r"}));
  // Every request is logged unchanged, answered or not.
  EXPECT_EQ(f.ops.calls, (Calls{"Log CMD:32774", "Log cmd:32775", "Log CMD::32776", "Log CMX:32774",
                                "Log CMD:12345"}));
}

TEST(ServiceCommands, CheckMountLettersAndSendFailure) {
  Fixture f;
  f.s.driveLetter[1] = 'F';
  f.s.kw.currentKey = kelm::kNoReading;
  f.Run("CMD:32776");
  f.Run("CMD:32775");
  EXPECT_EQ(f.ops.answers,
            (Calls{"CMD:0:9\r", "CMD:17921:9\r", "CMD:2:9\r", "CMD:3:9\r", "CMD:4294967295:8\r"}));
  f.ops.calls.clear();
  f.ops.sendOk = false;
  f.Run("CMD:32776");
  Calls expect{"Log CMD:32776"};
  for (int i = 0; i < 4; ++i) expect.push_back("Log answer CHECKMOUNT send fail\n");
  EXPECT_EQ(f.ops.calls, expect);
}

TEST(ServiceCommands, ToggleMount) {
  Fixture f;
  f.s.driveLetter[2] = 'G';
  f.Run("CMD:32777:4");
  f.Run("CMD:32777:4294967295");
  f.Run("CMD:32777:1");
  f.Run("CMD:32777");  // no argument: slot 0
  f.ops.unmountSlotResult = -1;
  f.Run("CMD:32777:2");
  EXPECT_EQ(f.s.driveLetter[2], 'G');
  f.ops.unmountSlotResult = 0;
  f.Run("CMD:32777:2");
  EXPECT_EQ(f.s.driveLetter[2], 0);
  Calls ops;
  for (auto& c : f.ops.calls)
    if (c.rfind("Log", 0) != 0) ops.push_back(c);
  EXPECT_EQ(ops, (Calls{"MountSlot 1", "MountSlot 0", "UnmountSlot 71", "UnmountSlot 71"}));
}

// One command in one mode from a given state: the operations it calls and
// the state it leaves.
struct CommandCase {
  const char* name;
  svc::ServiceMode mode;
  std::uint32_t key;
  bool mounted;
  const char* request;
  Calls calls;
  std::uint32_t keyAfter;
  bool mountedAfter, watchingAfter;
  std::uint32_t stateAfter;
};

TEST(ServiceCommands, Sequences) {
  using M = svc::ServiceMode;
  const std::string kEnd = "Beep 5000 1000";
  const CommandCase cases[] = {
      {"rf reload mounted", M::RfKey, 1234, true, "CMD:32769",
       {kEnd, "UnmountAll", "SetMonitorUser 0", "ClearUserConfig", "ReloadUserIds"}, 0, false, true, 3},
      {"rf reload idle", M::RfKey, 0, false, "CMD:32769", {"ReloadUserIds"}, 0, false, true, 3},
      {"rf reload no reading", M::RfKey, kelm::kNoReading, true, "CMD:32769", {"ReloadUserIds"}, 0,
       true, true, 5},
      {"sw reload starts", M::Software, 1234, false, "CMD:32769",
       {"Beep 5000 200", "UnmountAll", "LoadUserConfig 1234", "SetMonitorUser 1234",
        "AutoMountAll 1234"},
       1234, true, false, 5},
      {"sw reload mounted", M::Software, 1234, true, "CMD:32769", {}, 1234, true, false, 5},
      {"sw reload no key", M::Software, 0, false, "CMD:32769", {}, 0, false, false, 3},
      {"rf unmountall", M::RfKey, 1234, true, "CMD:32770",
       {kEnd, "UnmountAll", "SetMonitorUser 0", "ClearUserConfig"}, 1234, false, false, 3},
      {"rf unmountall idle", M::RfKey, 0, false, "CMD:32770", {}, 0, false, false, 3},
      {"sw unmountall", M::Software, 77, true, "CMD:32770",
       {kEnd, "UnmountAll", "SetMonitorUser 0", "ClearUserConfig"}, 77, false, false, 3},
      {"rf keytimeout", M::RfKey, 1234, true, "CMD:32772",
       {kEnd, "UnmountAll", "SetMonitorUser 0", "ClearUserConfig"}, 0, false, true, 3},
      {"sw keytimeout", M::Software, 1234, true, "CMD:32772", {}, 1234, true, false, 5},
      {"rf keyback", M::RfKey, 1234, true, "CMD:32773", {}, 1234, true, true, 5},
      {"sw keyback", M::Software, 1234, true, "CMD:32773", {}, 1234, true, false, 5},
      {"rf receiverback", M::RfKey, 1234, true, "CMD:32771", {}, 1234, true, true, 5},
      {"sw receiverback", M::Software, 1234, true, "CMD:32771", {}, 1234, true, false, 5},
      {"rf setuser ignored", M::RfKey, 0, false, "CMD:34816:1234", {}, 0, false, false, 3},
  };
  for (const CommandCase& c : cases) {
    Fixture f;
    f.s.kw.mode = c.mode;
    f.s.kw.watching = false;
    f.s.kw.currentKey = c.key;
    if (c.mounted) f.Mounted(c.key);
    f.Run(c.request);
    Calls ops(f.ops.calls.begin() + 1, f.ops.calls.end());
    EXPECT_EQ(ops, c.calls) << c.name;
    EXPECT_EQ(f.s.kw.currentKey, c.keyAfter) << c.name;
    EXPECT_EQ(f.s.kw.mounted, c.mountedAfter) << c.name;
    EXPECT_EQ(f.s.kw.watching, c.watchingAfter) << c.name;
    EXPECT_EQ(f.s.kw.stateCode, c.stateAfter) << c.name;
    EXPECT_TRUE(f.ops.answers.empty()) << c.name;
  }
}

TEST(ServiceCommands, FailedOperationsKeepTheDisks) {
  {
    Fixture f;  // UNMOUNTALL whose dismount fails: still mounted, state 3
    f.Mounted(1234);
    f.ops.unmountAllResult = -1;
    f.Run("CMD:32770");
    EXPECT_TRUE(f.s.kw.mounted);
    EXPECT_EQ(f.s.kw.stateCode, 3u);
    EXPECT_EQ(f.ops.calls.back(), "UnmountAll");
  }
  {
    Fixture f;  // KEYTIMEOUT whose dismount fails: key cleared, state kept
    f.Mounted(1234);
    f.ops.unmountAllResult = -1;
    f.Run("CMD:32772");
    EXPECT_TRUE(f.s.kw.mounted);
    EXPECT_EQ(f.s.kw.currentKey, 0u);
    EXPECT_EQ(f.s.kw.stateCode, 5u);
  }
  {
    Fixture f;  // S with a refused configuration stops before the monitor
    f.s.kw.mode = svc::ServiceMode::Software;
    f.s.kw.currentKey = 9;
    f.ops.loadResult = 0;
    f.Run("CMD:32769");
    EXPECT_EQ(f.ops.calls.back(), "LoadUserConfig 9");
    EXPECT_FALSE(f.s.kw.mounted);
  }
  {
    Fixture f;  // S whose auto-mount fails: not marked mounted
    f.s.kw.mode = svc::ServiceMode::Software;
    f.s.kw.currentKey = 9;
    f.ops.autoMountResult = -1;
    f.Run("CMD:32769");
    EXPECT_EQ(f.ops.calls.back(), "AutoMountAll 9");
    EXPECT_FALSE(f.s.kw.mounted);
    EXPECT_EQ(f.s.kw.stateCode, 3u);
  }
}

TEST(ServiceCommands, SetUserInSoftwareMode) {
  struct Step {
    const char* request;
    std::uint32_t key, setUser;
  } steps[] = {
      {"CMD:34816:0", 0, 0},       {"CMD:34816:1234", 1234, 1234}, {"CMD:34816:5678", 1234, 1234},
      {"CMD:34816:0", 0, 0},       {"CMD:34816:5678", 5678, 5678}, {"CMD:34816:5678", 0, 0},
      {"CMD:34816", 0, 0},
  };
  Fixture f;
  f.s.kw.mode = svc::ServiceMode::Software;
  for (const Step& s : steps) {
    f.Run(s.request);
    EXPECT_EQ(f.s.kw.currentKey, s.key) << s.request;
    EXPECT_EQ(f.s.kw.setUser, s.setUser) << s.request;
  }
  // The mount itself is left to the next key-watch step.
  for (auto& c : f.ops.calls) EXPECT_EQ(c.rfind("Log", 0), 0u) << c;
}
