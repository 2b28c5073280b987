// KelmCtl's state machine as tables: start-up and the timers' hand-over, a
// user's disks through the Windows 98 requests, the key watch in both modes,
// every WM_APP command in both modes, the message boxes one at a time, and
// the end.
#include <gtest/gtest.h>

#include "tests/native/ctl98_fake.h"

using namespace ctltest;
using kelm::kNoReading;
using ctl::ErrorBox;
using ctl::Mode;

namespace {

constexpr std::uint32_t kReload = kelm::kCmdReload, kUnmountAll = kelm::kCmdUnmountAll,
                        kReceiverBack = kelm::kCmdReceiverBack, kKeyTimeout = kelm::kCmdKeyTimeout,
                        kKeyBack = kelm::kCmdKeyBack, kGetState = kelm::kCmdGetState, kGetKey = kelm::kCmdGetKey,
                        kCheckMount = kelm::kCmdCheckMount, kToggle = kelm::kCmdToggleMount,
                        kSetUser = kelm::kCmdSetUser;
constexpr unsigned kHide = ctl::kTimerHide, kWait = ctl::kTimerWaitReceiver, kWatch = ctl::kTimerKeyWatch;
const std::string kWatchOnly = Str(kWatch), kWaitOnly = Str(kWait), kBoth = Str(kWatch) + " " + Str(kWait);

// User 1234: slots 0 and 1 mount by themselves ("YES" counts), 2 is valid
// but mounted only on request, 3 is not in use. Delay 2.
void AddUsers(Fake& f) {
  f.AddUser(1234, "vVvn", "aaxa", "2");
  f.AddUser(5678, "vnnn", "annn");
}

// Watching in RF key mode with 1234's disks mounted.
void MountedRf(Program& p) {
  AddUsers(p.ops);
  p.Run();
  p.ops.heard = 1234;
  p.Second();
  ASSERT_EQ(p.ops.Attached(), "DE--");
  ASSERT_EQ(p.s.currentKey, 1234u);
}

// Watching in software mode with 1234 logged in and mounted.
void MountedSoftware(Program& p) {
  AddUsers(p.ops);
  p.ops.installType = kelm::store::kInstallSoftware;
  p.Run();
  p.Command(kSetUser, 1234);
  p.Second();
  ASSERT_EQ(p.ops.Attached(), "DE--");
}

}  // namespace

TEST(KelmCtl, StartUpInOrder) {
  Program p;
  p.s.userIds[7] = 99;
  p.s.table.letters[1] = 'F';
  p.Boot();
  EXPECT_EQ(p.ops.log, (Log{"monitor 0", "hide", "installtype", "timer+ " + Str(kHide), "rsp 1"}));
  EXPECT_EQ(p.ops.timers.at(kHide), 100u);
  EXPECT_EQ(p.s.userIds[7], 0u);
  EXPECT_EQ(p.s.table.letters[1], 0);
  EXPECT_TRUE(p.s.registered);
  EXPECT_FALSE(p.s.watching);
  EXPECT_EQ(p.s.delay, 3u);
  EXPECT_EQ(p.s.stateCode, kelm::kStateNotMounted);

  struct Case {
    int installType;
    Mode mode;
  } cases[] = {{kelm::store::kInstallSoftware, Mode::SoftwareMode},
               {kelm::store::kInstallRfKey, Mode::RfKeyMode},
               {kelm::store::kInstallRfBand2, Mode::RfKeyMode},
               {kelm::store::kInstallUnknown, Mode::RfKeyMode}};
  for (const Case& c : cases) {
    Program q;
    q.ops.installType = c.installType;
    q.ops.rspResult = false;
    q.Boot();
    EXPECT_EQ(q.s.mode, c.mode) << c.installType;
    EXPECT_FALSE(q.s.registered);
  }
}

TEST(KelmCtl, TimersHandOver) {
  // The hiding timer waits until it finds the window hidden.
  Program h;
  h.Boot();
  h.ops.visible = true;  // shown again before the first tick
  ctl::HideTick(h.s, h.ops);
  EXPECT_EQ(h.ops.Timers(), Str(kHide));
  ctl::HideTick(h.s, h.ops);
  EXPECT_EQ(h.ops.Timers(), kWaitOnly);

  struct Case {
    const char* name;
    int installType;
    bool receiver, watchTimerFails;
    std::string timers;
    bool watching, reloaded;
  } cases[] = {
      {"RF key, no receiver: keeps waiting", kelm::store::kInstallRfKey, false, false, kWaitOnly, false, false},
      {"RF key, receiver present", kelm::store::kInstallRfKey, true, false, kWatchOnly, true, true},
      {"software mode needs no receiver", kelm::store::kInstallSoftware, false, false, kWatchOnly, true, true},
      {"the watch timer cannot start", kelm::store::kInstallRfKey, true, true, kWaitOnly, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Program p;
    p.ops.installType = c.installType;
    p.ops.receiverPresent = c.receiver;
    p.ops.userIds = {1234, 5678};
    if (c.watchTimerFails) p.ops.failTimers.insert(kWatch);
    p.Boot();
    p.Second();
    EXPECT_EQ(p.ops.Timers(), kWaitOnly);
    p.s.stateCode = kelm::kStateMounted;  // to see who sets 3
    p.Second();
    EXPECT_EQ(p.ops.Timers(), c.timers);
    EXPECT_EQ(p.s.watching, c.watching);
    EXPECT_EQ(p.s.userIds[1] == 5678u, c.reloaded);
    // Waiting for the receiver, and the start in software mode, say "not mounted".
    const bool says3 = !c.receiver || c.installType == kelm::store::kInstallSoftware;
    EXPECT_EQ(p.s.stateCode, says3 ? kelm::kStateNotMounted : kelm::kStateMounted);
  }
}

TEST(KelmCtl, UserIdTableReloadKeepsLaterEntries) {
  Program p;
  p.ops.userIds = {11, 22, 33};
  ctl::ReloadUserIds(p.s, p.ops);
  p.ops.userIds = {44};
  ctl::ReloadUserIds(p.s, p.ops);
  EXPECT_EQ(p.s.userIds[0], 44u);
  EXPECT_EQ(p.s.userIds[1], 22u);  // a removed user's entry stays until the program restarts
  EXPECT_EQ(p.s.userIds[2], 33u);
  p.ops.userIds.assign(60, 7);
  ctl::ReloadUserIds(p.s, p.ops);
  EXPECT_EQ(p.s.userIds[49], 7u);
}

TEST(KelmCtl, MountingAUsersDisks) {
  const Log full{"dismount-all", "set-user 1234", "mount 0 1234", "letter 0", "mount 1 1234", "letter 1", "monitor 1234"};
  struct Case {
    const char* name;
    const char* failing;
    int letterAnswer;
    Log requests;
    std::string attached, letters;
    std::uint32_t state;
    std::vector<ErrorBox> boxes;
  } cases[] = {
      {"all requests succeed", "", -1, full, "DE--", "DE--", kelm::kStateMounted, {}},
      {"dismount all refused: goes on", "dismount-all", -1, full, "DE--", "DE--", kelm::kStateMounted, {}},
      {"user refused", "set-user", -1, {"dismount-all", "set-user 1234", "monitor 1234"}, "----", "----",
       kelm::kStateNotMounted, {ErrorBox::SwitchUser}},
      {"first slot refused: stops", "mount", -1, {"dismount-all", "set-user 1234", "mount 0 1234", "monitor 1234"},
       "----", "----", kelm::kStateMounted, {ErrorBox::MountDisk}},
      {"letter not told", "letter", -1, full, "DE--", "----", kelm::kStateMounted, {}},
      {"letter past Z:", "", 26, full, "DE--", "----", kelm::kStateMounted, {}},
      {"letter Z:", "", 25, full, "DE--", "ZZ--", kelm::kStateMounted, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Program p;
    AddUsers(p.ops);
    if (*c.failing) p.ops.failing.insert(c.failing);
    p.ops.letterAnswer = c.letterAnswer;
    p.Run();
    const size_t mark = p.Mark();
    p.ops.heard = 1234;
    p.Second();
    Log requests;
    for (size_t i = mark; i < p.ops.log.size(); ++i)
      if (p.ops.log[i].rfind("box", 0) != 0) requests.push_back(p.ops.log[i]);
    EXPECT_EQ(requests, c.requests);
    EXPECT_EQ(p.ops.Attached(), c.attached);
    std::string letters;
    for (auto l : p.s.table.letters) letters += l ? static_cast<char>(l) : '-';
    EXPECT_EQ(letters, c.letters);
    EXPECT_EQ(p.s.stateCode, c.state);
    EXPECT_EQ(p.ops.boxes, c.boxes);
    EXPECT_EQ(p.s.delay, 2u);  // the user's delay, whatever the driver said
    EXPECT_FALSE(p.ops.badRecord);
  }
  // A user without a key in the store: no slots, the default delay.
  Program p;
  p.ops.userIds = {999};
  p.Run();
  p.ops.heard = 999;
  p.Second();
  EXPECT_EQ(p.s.delay, 15u);
  EXPECT_EQ(p.ops.Only("mount").size(), 0u);
  EXPECT_EQ(p.s.currentKey, 999u);
}

TEST(KelmCtl, RfKeyWatch) {
  struct Case {
    const char* name;
    bool trayWindow, trayAnswer;
    Log after;  // from the loss on
    std::string timers, attached;
    std::uint32_t key, state;
  } cases[] = {
      {"no tray program: dismounted at once", false, true,
       {"timer- " + kWatchOnly, "notify 1:1234", "dismount-all", "monitor 0", "timer+ " + kWaitOnly}, kWaitOnly, "----",
       0, kelm::kStateNotMounted},
      {"the tray program takes the notice", true, true, {"timer- " + kWatchOnly, "notify 1:1234"}, "", "DE--", 1234,
       kelm::kStateMounted},
      {"the tray program answers 0", true, false,
       {"timer- " + kWatchOnly, "notify 1:1234", "dismount-all", "monitor 0", "timer+ " + kWaitOnly}, kWaitOnly, "----",
       0, kelm::kStateNotMounted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Program p;
    MountedRf(p);
    EXPECT_TRUE(p.ops.Only("beep").empty());  // a key's arrival does not beep here
    EXPECT_EQ(p.ops.log.back(), "monitor 1234");
    p.ops.trayWindow = c.trayWindow;
    p.ops.trayAnswer = c.trayAnswer;
    p.ops.heard = 0;
    p.Seconds(2);  // the delay of 2 used up
    EXPECT_EQ(p.s.absentCount, 2u);
    const size_t mark = p.Mark();
    p.Second();
    EXPECT_EQ(Log(p.ops.log.begin() + mark, p.ops.log.end()), c.after);
    EXPECT_EQ(p.ops.Timers(), c.timers);
    EXPECT_EQ(p.ops.Attached(), c.attached);
    EXPECT_EQ(p.s.currentKey, c.key);
    EXPECT_EQ(p.s.stateCode, c.state);
    EXPECT_FALSE(p.s.watching);
    EXPECT_EQ(p.s.absentCount, 0u);
  }
}

TEST(KelmCtl, TrayAnswersAfterKeyLost) {
  Program p;
  MountedRf(p);
  p.ops.trayWindow = true;
  p.ops.heard = 0;
  p.Seconds(3);
  ASSERT_EQ(p.ops.Only("notify 1:").size(), 1u);
  p.Seconds(5);  // no watch until the tray program answers
  EXPECT_EQ(p.ops.Only("notify 1:").size(), 1u);
  // KEYBACK: the watch starts again from waiting for the receiver.
  p.ops.heard = 1234;
  p.Command(kKeyBack);
  EXPECT_EQ(p.ops.Timers(), kWaitOnly);
  p.Seconds(3);
  EXPECT_EQ(p.ops.Timers(), kWatchOnly);
  EXPECT_EQ(p.ops.Attached(), "DE--");
  EXPECT_EQ(p.ops.Only("set-user").size(), 1u);  // the same key is not mounted again
  // Lost again, then KEYTIMEOUT dismounts.
  p.ops.heard = 0;
  p.Seconds(3);
  ASSERT_EQ(p.ops.Only("notify 1:").size(), 2u);
  p.Command(kKeyTimeout);
  EXPECT_EQ(p.ops.Attached(), "----");
  EXPECT_EQ(p.ops.log.back(), "timer+ " + kWaitOnly);
  EXPECT_EQ(p.s.currentKey, 0u);
  EXPECT_EQ(p.s.stateCode, kelm::kStateNotMounted);
  // The key heard again mounts again.
  p.ops.heard = 1234;
  p.Seconds(3);
  EXPECT_EQ(p.ops.Attached(), "DE--");
}

TEST(KelmCtl, ReceiverReadings) {
  // Unplugged: everything goes at once, and the watch waits for it again.
  Program p;
  MountedRf(p);
  p.ops.trayWindow = true;
  p.ops.receiverPresent = false;
  size_t mark = p.Mark();
  p.Second();
  EXPECT_EQ(Log(p.ops.log.begin() + mark, p.ops.log.end()),
            (Log{"timer- " + kWatchOnly, "dismount-all", "monitor 0", "timer+ " + kWaitOnly}));
  EXPECT_EQ(p.s.currentKey, 0u);
  EXPECT_EQ(p.s.stateCode, kelm::kStateNotMounted);
  p.Seconds(5);
  EXPECT_EQ(p.ops.Timers(), kWaitOnly);
  p.ops.receiverPresent = true;
  p.Seconds(3);
  EXPECT_EQ(p.ops.Attached(), "DE--");

  // No value from the receiver: it is closed and opened again by the next
  // step; the disks stay, the state code says 3.
  Program q;
  MountedRf(q);
  q.ops.heard = kNoReading;
  q.Second();
  EXPECT_EQ(q.ops.log.back(), "close-receiver");
  EXPECT_EQ(q.ops.Attached(), "DE--");
  EXPECT_EQ(q.s.stateCode, kelm::kStateNotMounted);
  EXPECT_EQ(q.s.absentCount, 0u);
  q.ops.heard = 1234;
  q.Second();
  EXPECT_TRUE(q.ops.receiverOpen);
  EXPECT_EQ(q.ops.Attached(), "DE--");
  EXPECT_EQ(q.s.currentKey, 1234u);

  // A key that is not in UserIdTable is no key.
  Program u;
  MountedRf(u);
  u.ops.heard = 4242;
  u.Seconds(2);
  EXPECT_EQ(u.s.absentCount, 2u);
  EXPECT_EQ(u.s.changeCount, 0u);
}

// The configuration asks for UNMOUNTALL and goes ahead only on 1: a
// refused dismount all must not answer as if the disks were gone.
TEST(KelmCtl, UnmountAllAnswersWhetherTheDisksWent) {
  Program p;
  MountedRf(p);
  p.ops.failing.insert("dismount-all");
  EXPECT_EQ(p.Command(kUnmountAll), 0);
  EXPECT_NE(p.ops.Attached(), "----");
  p.ops.failing.clear();
  EXPECT_EQ(p.Command(kUnmountAll), 1);
  EXPECT_EQ(p.ops.Attached(), "----");
  EXPECT_EQ(p.Command(kGetState), 1);
}

TEST(KelmCtl, SoftwareModeSteps) {
  Program p;
  MountedSoftware(p);
  EXPECT_EQ(p.ops.Only("beep"), Log{"beep 500"});
  EXPECT_EQ(p.ops.log.back(), "monitor 1234");
  EXPECT_EQ(p.s.stateCode, kelm::kStateMounted);
  p.Seconds(3);
  EXPECT_EQ(p.ops.Only("set-user").size(), 1u);
  // Another user while 1234 is logged in is ignored; 1234 again logs out.
  p.Command(kSetUser, 5678);
  p.Second();
  EXPECT_EQ(p.s.currentKey, 1234u);
  const size_t mark = p.Mark();
  p.Command(kSetUser, 0x10000u + 1234);  // only the low 16 bits count
  p.Second();
  EXPECT_EQ(Log(p.ops.log.begin() + mark, p.ops.log.end()), (Log{"beep 1000", "dismount-all", "monitor 0"}));
  EXPECT_EQ(p.s.stateCode, kelm::kStateNotMounted);
  EXPECT_EQ(p.ops.Attached(), "----");
  // The receiver is never read in this mode.
  EXPECT_FALSE(p.ops.receiverOpen);
}

TEST(KelmCtl, CommandsInBothModes) {
  struct Case {
    std::uint64_t code;
    std::uintptr_t arg;
    Mode mode;
    Log calls;  // what the command did, in order
    std::string timers, attached;
    std::uint32_t key, state;
  } cases[] = {
      {kReload, 0, Mode::RfKeyMode, {"timer- " + kWatchOnly, "timer+ " + kWaitOnly}, kWaitOnly, "DE--", 0,
       kelm::kStateMounted},
      {kReload, 0, Mode::SoftwareMode,
       {"beep 500", "dismount-all", "set-user 1234", "mount 0 1234", "letter 0", "mount 1 1234", "letter 1",
        "monitor 1234"},
       kWatchOnly, "DE--", 1234, kelm::kStateMounted},
      {kUnmountAll, 0, Mode::RfKeyMode, {"timer- " + kWatchOnly, "dismount-all", "monitor 0"}, "", "----", 1234,
       kelm::kStateNotMounted},
      {kUnmountAll, 0, Mode::SoftwareMode, {"dismount-all", "monitor 0"}, kWatchOnly, "----", 1234,
       kelm::kStateNotMounted},
      {kReceiverBack, 0, Mode::RfKeyMode, {"timer+ " + kWaitOnly}, kBoth, "DE--", 1234, kelm::kStateMounted},
      {kReceiverBack, 0, Mode::SoftwareMode, {}, kWatchOnly, "DE--", 1234, kelm::kStateMounted},
      {kKeyBack, 0, Mode::RfKeyMode, {"timer+ " + kWaitOnly}, kBoth, "DE--", 1234, kelm::kStateMounted},
      {kKeyBack, 0, Mode::SoftwareMode, {}, kWatchOnly, "DE--", 1234, kelm::kStateMounted},
      {kKeyTimeout, 0, Mode::RfKeyMode, {"dismount-all", "monitor 0", "timer+ " + kWaitOnly}, kBoth, "----", 0,
       kelm::kStateNotMounted},
      {kKeyTimeout, 0, Mode::SoftwareMode, {}, kWatchOnly, "DE--", 0, kelm::kStateMounted},
      {kGetState, 0, Mode::RfKeyMode, {"notify 7:5"}, kWatchOnly, "DE--", 1234, kelm::kStateMounted},
      {kGetKey, 0, Mode::SoftwareMode, {"notify 8:1234"}, kWatchOnly, "DE--", 1234, kelm::kStateMounted},
      {kCheckMount, 0, Mode::RfKeyMode,
       {"notify 9:" + Str(256 * 'D'), "notify 9:" + Str(1 + 256 * 'E'), "notify 9:2", "notify 9:3"}, kWatchOnly,
       "DE--", 1234, kelm::kStateMounted},
      {kToggle, 1, Mode::SoftwareMode, {"dismount 1 1234"}, kWatchOnly, "D---", 1234, kelm::kStateMounted},
      {kToggle, 2, Mode::RfKeyMode, {"check", "set-user 1234", "mount 2 1234", "letter 2"}, kWatchOnly, "DEF-", 1234,
       kelm::kStateMounted},
      {kToggle, 0x10002, Mode::SoftwareMode, {"check", "set-user 1234", "mount 2 1234", "letter 2"}, kWatchOnly,
       "DEF-", 1234, kelm::kStateMounted},
      {kToggle, 3, Mode::RfKeyMode, {"check", "set-user 1234"}, kWatchOnly, "DE--", 1234, kelm::kStateMounted},
      {kToggle, 4, Mode::RfKeyMode, {}, kWatchOnly, "DE--", 1234, kelm::kStateMounted},
      {kSetUser, 5678, Mode::RfKeyMode, {}, kWatchOnly, "DE--", 1234, kelm::kStateMounted},
      {kSetUser, 1234, Mode::SoftwareMode, {}, kWatchOnly, "DE--", 0, kelm::kStateMounted},
      {32768, 0, Mode::RfKeyMode, {}, kWatchOnly, "DE--", 1234, kelm::kStateMounted},
      {0x100000000ull + kGetState, 0, Mode::RfKeyMode, {}, kWatchOnly, "DE--", 1234, kelm::kStateMounted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.code << " (" << c.arg << ") in "
                                      << (c.mode == Mode::RfKeyMode ? "RF key mode" : "software mode"));
    if (c.code != static_cast<std::uintptr_t>(c.code)) continue;
    Program p;
    if (c.mode == Mode::RfKeyMode)
      MountedRf(p);
    else
      MountedSoftware(p);
    p.ops.trayWindow = true;
    const size_t mark = p.Mark();
    ctl::RunCommand(p.s, p.ops, static_cast<std::uintptr_t>(c.code), c.arg);
    EXPECT_EQ(Log(p.ops.log.begin() + mark, p.ops.log.end()), c.calls);
    EXPECT_EQ(p.ops.Timers(), c.timers);
    EXPECT_EQ(p.ops.Attached(), c.attached);
    EXPECT_EQ(p.s.currentKey, c.key);
    EXPECT_EQ(p.s.stateCode, c.state);
  }
}

TEST(KelmCtl, TogglingWithoutAUser) {
  Program p;
  AddUsers(p.ops);
  p.Run();
  p.Command(kToggle, 0);
  EXPECT_TRUE(p.ops.Only("check").empty());  // no current key: nothing is asked
  // The check refused: nothing more is asked, no box.
  Program q;
  MountedRf(q);
  q.ops.failing.insert("check");
  const size_t mark = q.Mark();
  q.Command(kToggle, 2);
  EXPECT_EQ(Log(q.ops.log.begin() + mark, q.ops.log.end()), Log{"check"});
}

TEST(KelmCtl, OneMessageBoxAtATime) {
  struct Case {
    const char* name;
    Mode mode;
    const char* failing;
    std::uint32_t command;  // 0: the key watch meets the failure
    std::uintptr_t arg;
    ErrorBox box;
  } cases[] = {
      {"software log-in, mount refused", Mode::SoftwareMode, "mount", 0, 0, ErrorBox::MountDisk},
      {"software log-in, user refused", Mode::SoftwareMode, "set-user", 0, 0, ErrorBox::SwitchUser},
      {"key arrival, user refused", Mode::RfKeyMode, "set-user", 0, 0, ErrorBox::SwitchUser},
      {"key arrival, mount refused", Mode::RfKeyMode, "mount", 0, 0, ErrorBox::MountDisk},
      {"software RELOAD, mount refused", Mode::SoftwareMode, "mount", kReload, 0, ErrorBox::MountDisk},
      {"TOGGLEMOUNT, user refused", Mode::RfKeyMode, "set-user", kToggle, 2, ErrorBox::SetUserId},
      {"TOGGLEMOUNT, mount refused", Mode::SoftwareMode, "mount", kToggle, 2, ErrorBox::MountDisk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Program p;
    if (c.command != 0) {
      c.mode == Mode::RfKeyMode ? MountedRf(p) : MountedSoftware(p);
    } else {
      AddUsers(p.ops);
      if (c.mode == Mode::SoftwareMode) p.ops.installType = kelm::store::kInstallSoftware;
      p.Run();
    }
    p.ops.failing.insert(c.failing);
    // The box's own message loop: five more seconds of timers and the
    // same command again; the driver keeps refusing.
    size_t requestsInBox = 0;
    p.ops.whileBoxShown = [&] {
      const size_t mark = p.Mark();
      p.Seconds(5);
      if (c.command) p.Command(c.command, c.arg);
      if (c.command == 0 && c.mode == Mode::SoftwareMode) p.Command(kSetUser, 5678);  // ignored
      requestsInBox = p.ops.Only("set-user", mark).size();
      EXPECT_TRUE(p.ops.Running(kWatch));  // the watch goes on meanwhile
    };
    if (c.command)
      p.Command(c.command, c.arg);
    else if (c.mode == Mode::SoftwareMode)
      p.Command(kSetUser, 1234);
    else
      p.ops.heard = 1234;
    p.Seconds(c.command ? 0 : 1);
    EXPECT_EQ(p.ops.boxes, std::vector<ErrorBox>{c.box});
    EXPECT_EQ(p.ops.mostBoxes, 1);
    // Inside the box only the repeated command asks the driver again.
    EXPECT_EQ(requestsInBox, c.command == kToggle || c.command == kReload ? 1u : 0u);
    // Afterwards no box comes back by itself.
    p.Seconds(5);
    EXPECT_EQ(p.ops.boxes.size(), 1u);
    EXPECT_FALSE(p.s.boxShown);
  }
}

TEST(KelmCtl, TheStepIsCompleteBeforeItsBox) {
  // Software mode: the monitor and state are set before the box waits, and
  // a log-out while the box is up is carried out by the next step.
  Program p;
  AddUsers(p.ops);
  p.ops.installType = kelm::store::kInstallSoftware;
  p.Run();
  p.ops.failing.insert("mount");
  Log inBox;
  p.ops.whileBoxShown = [&] {
    EXPECT_EQ(p.ops.Only("monitor").back(), "monitor 1234");
    EXPECT_EQ(p.s.previousKey, 1234u);
    const size_t mark = p.Mark();
    p.Command(kSetUser, 1234);
    p.Second();
    inBox.assign(p.ops.log.begin() + mark, p.ops.log.end());
  };
  p.Command(kSetUser, 1234);
  p.Second();
  EXPECT_EQ(inBox, (Log{"beep 1000", "dismount-all", "monitor 0"}));
  EXPECT_EQ(p.s.currentKey, 0u);

  // RF key mode: the key that goes away while the box is up is lost as usual.
  Program q;
  AddUsers(q.ops);
  q.Run();
  q.ops.failing.insert("set-user");
  q.ops.heard = 1234;
  q.ops.whileBoxShown = [&] {
    q.ops.heard = 0;
    q.Seconds(3);
  };
  q.Second();
  EXPECT_EQ(q.ops.Only("notify 1:"), Log{"notify 1:1234"});
  EXPECT_EQ(q.s.currentKey, 0u);
  EXPECT_EQ(q.ops.Timers(), kWaitOnly);
}

TEST(KelmCtl, BoxTexts) {
  EXPECT_STREQ(ctl::ErrorBoxText(ErrorBox::SwitchUser), "Switch user Fail. Can not mount the virtaul disk.");
  EXPECT_STREQ(ctl::ErrorBoxText(ErrorBox::MountDisk), "Mount Virtual Disk Fail.");
  EXPECT_STREQ(ctl::ErrorBoxText(ErrorBox::SetUserId), "Set user Id. Can not mount the virtaul disk.");
  EXPECT_STREQ(ctl::kErrorCaption, "Error");
}

TEST(KelmCtl, End) {
  for (bool registered : {true, false}) {
    Program p;
    p.ops.rspResult = registered;
    p.Boot();
    const size_t mark = p.Mark();
    ctl::End(p.s, p.ops);
    const Log want = registered ? Log{"rsp 0", "monitor 0"} : Log{"monitor 0"};
    EXPECT_EQ(Log(p.ops.log.begin() + mark, p.ops.log.end()), want);
  }
}
