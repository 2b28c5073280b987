// The once-a-second key watch as tables of receiver readings: when disks
// mount, when a missing or replaced key counts as lost, what a failed or
// empty reading does, and the software-mode log-in and log-out.
#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "service/logic/dispatch.h"
#include "service/logic/keywatch.h"

namespace svc = kelm::svc;
using Calls = std::vector<std::string>;

namespace {

constexpr std::uint32_t kNoReading = kelm::kNoReading;
const std::optional<std::uint32_t> kFails;  // the reading itself fails

// Mount work reduced to what the key watch looks at; the receiver keeps an
// open flag apart from its handle, as the service's does.
struct KeyOps : svc::ServiceOperations {
  svc::ServiceState& s;
  std::deque<std::optional<std::uint32_t>> readings;
  bool clientConnected = false, receiverPresent = true;
  int unmountAllResult = 0, loadResult = 1;
  std::uint32_t userDelay = 15;
  bool flag = false, handle = false;
  Calls calls;
  explicit KeyOps(svc::ServiceState& st) : s(st) {}

  void Beep(unsigned, unsigned ms) override { calls.push_back("Beep " + std::to_string(ms)); }
  int UnmountAll() override {
    calls.push_back("UnmountAll");
    if (unmountAllResult == 0) {
      for (auto& l : s.driveLetter) l = 0;
      s.kw.stateCode = kelm::kStateNotMounted;
    }
    return unmountAllResult;
  }
  int LoadUserConfig(std::uint32_t k) override {
    calls.push_back("Load " + std::to_string(k));
    if (!loadResult || s.table.loadedUser[0]) return 0;
    std::snprintf(s.table.loadedUser, sizeof s.table.loadedUser, "%u", unsigned(k));
    s.kw.delay = userDelay;
    return 1;
  }
  void ClearUserConfig() override { svc::ClearUserConfig(s); }
  void SetMonitorUser(std::uint32_t u) override { calls.push_back("Monitor " + std::to_string(u)); }
  int AutoMountAll(std::uint32_t k) override {
    if (std::to_string(k) != s.table.loadedUser) return -1;
    s.driveLetter[0] = 'D';
    return 0;
  }
  void MountSlot(unsigned) override {}
  int UnmountSlot(std::uint8_t) override { return 0; }
  bool ReloadUserIds() override { return true; }
  bool ReadKeyCode(std::uint32_t& key) override {
    if (!flag) {
      if (!receiverPresent) return false;
      flag = handle = true;
    }
    std::optional<std::uint32_t> r = kFails;
    if (handle && !readings.empty()) {
      r = readings.front();
      readings.pop_front();
    }
    if (!handle || !r) {
      flag = handle = false;
      return false;
    }
    key = *r;
    return true;
  }
  void CloseReceiverHandle() override { handle = false; }
  bool SendAnswer(std::uint32_t v, std::uint8_t code) override {
    calls.push_back("Answer " + std::to_string(v) + ":" + std::to_string(code));
    return clientConnected;
  }
  void Log(std::string_view) override {}
};

struct Watch {
  svc::ServiceState s;
  KeyOps ops{s};
  Watch() {
    const std::uint32_t ids[] = {1234, 5678};
    svc::SetUserIds(s, ids, 2);
  }
  // Runs one step per reading.
  void Steps(std::initializer_list<std::optional<std::uint32_t>> readings) {
    for (auto r : readings) {
      ops.readings.push_back(r);
      svc::KeyWatchStep(s, ops);
    }
  }
  void Repeat(std::optional<std::uint32_t> reading, int n) {
    for (int i = 0; i < n; ++i) Steps({reading});
  }
  bool Mounted() const { return s.kw.mounted && s.driveLetter[0] == 'D'; }
  int Count(const std::string& call) const {
    int n = 0;
    for (auto& c : ops.calls) n += c == call;
    return n;
  }
};

}  // namespace

TEST(KeyWatch, ArrivalMountsAtOnce) {
  Watch w;
  w.Steps({0, 1234});
  EXPECT_EQ(w.ops.calls, (Calls{"Beep 200", "UnmountAll", "Load 1234", "Monitor 1234"}));
  EXPECT_TRUE(w.Mounted());
  EXPECT_EQ(w.s.kw.stateCode, kelm::kStateMounted);
  EXPECT_EQ(w.s.kw.currentKey, 1234u);
  w.Steps({1234, 1234});
  EXPECT_EQ(w.Count("Load 1234"), 1);
}

TEST(KeyWatch, MissingKeyCountsToTheDelay) {
  for (bool client : {true, false}) {
    Watch w;
    w.ops.clientConnected = client;
    w.Steps({1234});
    w.Repeat(0, 15);
    EXPECT_EQ(w.Count("Answer 1234:1"), 0);
    EXPECT_TRUE(w.Mounted());
    EXPECT_EQ(w.s.kw.absentCount, 15u);
    w.Steps({0});  // the sixteenth
    EXPECT_EQ(w.Count("Answer 1234:1"), 1);
    EXPECT_EQ(w.s.kw.absentCount, 0u);
    if (client) {
      // The tray program decides: disks and key stay, readings are ignored.
      EXPECT_TRUE(w.Mounted());
      EXPECT_FALSE(w.s.kw.watching);
      EXPECT_EQ(w.s.kw.currentKey, 1234u);
      w.Repeat(0, 40);
      EXPECT_EQ(w.Count("Answer 1234:1"), 1);
    } else {
      EXPECT_FALSE(w.s.kw.mounted);
      EXPECT_EQ(w.s.driveLetter[0], 0);
      EXPECT_EQ(w.s.kw.currentKey, 0u);
      EXPECT_EQ(w.s.kw.stateCode, kelm::kStateNotMounted);
      EXPECT_EQ(w.ops.calls.back(), "Beep 1000");
      EXPECT_STREQ(w.s.table.loadedUser, "");
    }
  }
}

TEST(KeyWatch, KeyBackBeforeTheDelayResetsTheCount) {
  Watch w;
  w.ops.clientConnected = true;
  w.Steps({1234});
  w.Repeat(0, 15);
  w.Steps({1234});
  EXPECT_EQ(w.s.kw.absentCount, 0u);
  w.Repeat(0, 15);
  EXPECT_EQ(w.Count("Answer 1234:1"), 0);
  w.Steps({0});
  EXPECT_EQ(w.Count("Answer 1234:1"), 1);
}

TEST(KeyWatch, AnotherKeyCountsAsChangeThenMounts) {
  Watch w;
  w.Steps({1234});
  w.Repeat(5678, 15);
  EXPECT_TRUE(w.Mounted());
  EXPECT_EQ(w.s.kw.changeCount, 15u);
  w.Steps({5678});  // 1234 is lost; nobody is told, so its disks go
  EXPECT_EQ(w.Count("Answer 1234:1"), 1);
  EXPECT_FALSE(w.s.kw.mounted);
  EXPECT_EQ(w.s.kw.currentKey, 0u);
  w.Steps({5678});
  EXPECT_EQ(w.Count("Load 5678"), 1);
  EXPECT_TRUE(w.Mounted());
  EXPECT_EQ(w.s.kw.currentKey, 5678u);
}

TEST(KeyWatch, UnknownKeyIsNoKey) {
  Watch w;
  w.Steps({999});
  EXPECT_EQ(w.s.kw.currentKey, 0u);
  EXPECT_TRUE(w.ops.calls.empty());
  w.Steps({1234});
  w.Repeat(999, 16);  // counted as absence, not change
  EXPECT_EQ(w.s.kw.changeCount, 0u);
  EXPECT_EQ(w.Count("Answer 1234:1"), 1);
}

TEST(KeyWatch, NoReadingThenFailedReadThenReopen) {
  Watch w;
  w.Steps({1234});
  w.Steps({kNoReading});
  EXPECT_TRUE(w.Mounted());
  EXPECT_EQ(w.s.kw.absentCount, 0u);
  EXPECT_TRUE(w.ops.flag);
  EXPECT_FALSE(w.ops.handle);
  // The closed handle makes this step's reading fail: the mount ends at once.
  svc::KeyWatchStep(w.s, w.ops);
  EXPECT_FALSE(w.s.kw.mounted);
  EXPECT_EQ(w.s.kw.currentKey, 0u);
  EXPECT_TRUE(w.s.kw.watching);
  EXPECT_EQ(w.Count("Answer 1234:1"), 0);
  EXPECT_FALSE(w.ops.flag);
  w.Steps({1234});  // reopened
  EXPECT_TRUE(w.Mounted());
  // A first reading of no value neither mounts nor counts.
  Watch fresh;
  fresh.Steps({kNoReading});
  EXPECT_TRUE(fresh.ops.calls.empty());
  EXPECT_EQ(fresh.s.kw.currentKey, 0u);
}

TEST(KeyWatch, ReceiverGoneEndsTheMount) {
  Watch w;
  w.ops.clientConnected = true;
  w.Steps({1234});
  w.ops.receiverPresent = false;
  w.Steps({kFails});
  EXPECT_FALSE(w.s.kw.mounted);
  EXPECT_EQ(w.Count("Answer 1234:1"), 0);
  // A dismount that fails keeps the disks marked mounted; the key still goes.
  Watch f;
  f.Steps({1234});
  f.ops.unmountAllResult = -1;
  f.Steps({kFails});
  EXPECT_TRUE(f.s.kw.mounted);
  EXPECT_EQ(f.s.kw.stateCode, kelm::kStateMounted);
  EXPECT_EQ(f.s.kw.currentKey, 0u);
  EXPECT_TRUE(f.s.kw.watching);
}

TEST(KeyWatch, DelayIsThreeBeforeAnyUserIsLoaded) {
  Watch w;
  w.ops.loadResult = 0;
  EXPECT_EQ(w.s.kw.delay, 3u);
  w.Steps({1234});
  w.Repeat(0, 3);
  EXPECT_EQ(w.Count("Answer 1234:1"), 0);
  w.Steps({0});
  EXPECT_EQ(w.Count("Answer 1234:1"), 1);
}

TEST(KeyWatch, TrayAnswersAfterKeyLost) {
  Watch w;
  w.ops.clientConnected = true;
  w.ops.userDelay = 2;
  w.Steps({1234, 0, 0, 0});
  ASSERT_FALSE(w.s.kw.watching);
  svc::HandleRequestText(w.s, w.ops, "CMD:32773");  // KEYBACK
  EXPECT_TRUE(w.s.kw.watching);
  w.Steps({0, 0, 0});
  EXPECT_EQ(w.Count("Answer 1234:1"), 2);
  svc::HandleRequestText(w.s, w.ops, "CMD:32772");  // KEYTIMEOUT
  EXPECT_FALSE(w.s.kw.mounted);
  EXPECT_EQ(w.s.kw.currentKey, 0u);
  EXPECT_TRUE(w.s.kw.watching);
  w.Steps({0, 0, 0, 0});
  EXPECT_EQ(w.Count("Answer 1234:1"), 2);
}

TEST(KeyWatch, SoftwareModeFollowsSetUser) {
  Watch w;
  w.s.kw.mode = svc::ServiceMode::Software;
  svc::KeyWatchStep(w.s, w.ops);
  EXPECT_TRUE(w.ops.calls.empty());
  svc::HandleRequestText(w.s, w.ops, "CMD:34816:1234");
  EXPECT_FALSE(w.s.kw.mounted);  // the next step mounts
  svc::KeyWatchStep(w.s, w.ops);
  EXPECT_TRUE(w.Mounted());
  // Log-out and another log-in within one second: the first user's disks stay.
  svc::HandleRequestText(w.s, w.ops, "CMD:34816:0");
  svc::HandleRequestText(w.s, w.ops, "CMD:34816:5678");
  svc::KeyWatchStep(w.s, w.ops);
  EXPECT_TRUE(w.Mounted());
  EXPECT_STREQ(w.s.table.loadedUser, "1234");
  EXPECT_EQ(w.s.kw.previousKey, 5678u);
  svc::HandleRequestText(w.s, w.ops, "CMD:34816:5678");  // log-out
  svc::KeyWatchStep(w.s, w.ops);
  EXPECT_FALSE(w.s.kw.mounted);
  EXPECT_EQ(w.s.kw.stateCode, kelm::kStateNotMounted);
  EXPECT_EQ(w.ops.calls.back(), "Monitor 0");
  // The receiver is never read in this mode.
  EXPECT_TRUE(w.ops.readings.empty());
  EXPECT_FALSE(w.ops.flag);
}

TEST(KeyWatch, FinalDismount) {
  Watch w;
  w.Steps({1234});
  svc::FinalDismount(w.s, w.ops);
  EXPECT_FALSE(w.s.kw.mounted);
  EXPECT_EQ(w.s.driveLetter[0], 0);
  EXPECT_FALSE(w.ops.handle);
  EXPECT_EQ(w.ops.calls.back(), "Monitor 0");
}
