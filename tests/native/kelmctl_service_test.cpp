// KelmCtl beside the mount service: the same scenario run through both
// state machines, one row per rule. Rows whose two columns agree are the
// rules the two programs share; the others are where KelmCtl differs.
#include <gtest/gtest.h>

#include <functional>

#include "service/logic/dispatch.h"
#include "service/logic/keywatch.h"
#include "tests/native/ctl98_fake.h"

using namespace ctltest;
namespace svc = kelm::svc;

namespace {

// Users as both programs find them in the store: 1234 mounts slots 0 and 1
// by itself and may mount slot 2 on request, delay 2; 5678 mounts slot 0,
// delay 2; 4321 has no delay value.
void AddUsers(Fake& f) {
  f.AddUser(1234, "vvvn", "aann", "2");
  f.AddUser(5678, "vnnn", "annn", "2");
  f.AddUser(4321, "vnnn", "annn");
}

// What a scenario is made of, and what is looked at afterwards.
class Machine {
 public:
  virtual ~Machine() = default;
  virtual void Hear(std::uint32_t code, int seconds) = 0;  // the receiver hears code for that long
  virtual void Unplug() = 0;
  virtual void Tray(bool takesNotices) = 0;
  virtual void Command(std::uint32_t code, std::uint32_t arg = 0) = 0;
  virtual void Seconds(int n) = 0;
  virtual void RemoveUser(std::uint32_t id) = 0;
  // "attached state key delay | beeps | notices | monitor"
  virtual std::string Look() = 0;
};

std::string Join(const Log& l) {
  std::string out;
  for (const auto& e : l) out += (out.empty() ? "" : ",") + e;
  return out;
}

class CtlMachine final : public Machine {
 public:
  CtlMachine(bool software) {
    AddUsers(p_.ops);
    if (software) p_.ops.installType = kelm::store::kInstallSoftware;
    p_.Run();
  }
  void Hear(std::uint32_t code, int seconds) override {
    p_.ops.heard = code;
    p_.Seconds(seconds);
  }
  void Unplug() override { p_.ops.receiverPresent = false; }
  void Tray(bool on) override { p_.ops.trayWindow = on; }
  void Command(std::uint32_t code, std::uint32_t arg) override { p_.Command(code, arg); }
  void Seconds(int n) override { p_.Seconds(n); }
  void RemoveUser(std::uint32_t id) override {
    p_.ops.users.erase(id);
    std::erase(p_.ops.userIds, id);
  }
  std::string Look() override {
    Log beeps, notices;
    for (auto& b : p_.ops.Only("beep ")) beeps.push_back(b.substr(5));
    for (auto& n : p_.ops.Only("notify 1:")) notices.push_back(n.substr(9));
    const Log mon = p_.ops.Only("monitor ");
    return p_.ops.Attached() + " " + Str(p_.s.stateCode) + " " + Str(p_.s.currentKey) + " " + Str(p_.s.delay) +
           " | " + Join(beeps) + " | " + Join(notices) + " | " + (mon.empty() ? "" : mon.back().substr(8));
  }

 private:
  Program p_;
};

// The service's operations reduced to the same store and a driver that
// attaches every mountable slot of the loaded user under the next letter.
struct SvcOps final : svc::ServiceOperations {
  svc::ServiceState& s;
  Fake store;  // its store, receiver and log; its KelmCtl side stays unused
  bool client = false;
  explicit SvcOps(svc::ServiceState& st, ctl::CtlState& unused) : s(st), store(unused) { AddUsers(store); }

  char NextLetter() const {
    char next = 'D';
    for (auto l : s.driveLetter)
      if (l >= next) next = static_cast<char>(l + 1);
    return next;
  }
  void Beep(unsigned, unsigned ms) override { store.log.push_back("beep " + Str(ms)); }
  int UnmountAll() override {
    for (auto& l : s.driveLetter) l = 0;
    s.kw.stateCode = kelm::kStateNotMounted;
    return 0;
  }
  int LoadUserConfig(std::uint32_t key) override {
    if (s.table.loadedUser[0]) return 0;
    std::snprintf(s.table.loadedUser, sizeof s.table.loadedUser, "%u", unsigned(key));
    kelm::store::StoredUser u{};
    store.ReadUser(key, u);
    for (unsigned n = 0; n < 4; ++n) s.table.slots[n] = u.slots[n];
    s.kw.delay = kelm::store::DelaySeconds(u.delay);
    return 1;
  }
  void ClearUserConfig() override { svc::ClearUserConfig(s); }
  void SetMonitorUser(std::uint32_t u) override { store.log.push_back("monitor " + Str(u)); }
  int AutoMountAll(std::uint32_t key) override {
    if (Str(key) != s.table.loadedUser) return -1;
    for (unsigned n = 0; n < 4; ++n)
      if (kelm::store::IsYes(s.table.slots[n].valid) && kelm::store::IsYes(s.table.slots[n].autoMount))
        s.driveLetter[n] = static_cast<std::uint8_t>(NextLetter());
    return 0;
  }
  void MountSlot(unsigned n) override {
    if (n < 4 && kelm::store::IsYes(s.table.slots[n].valid)) s.driveLetter[n] = static_cast<std::uint8_t>(NextLetter());
  }
  int UnmountSlot(std::uint8_t letter) override {
    for (auto& l : s.driveLetter)
      if (l == letter) l = 0;
    return 0;
  }
  bool ReloadUserIds() override {
    std::uint32_t ids[kelm::store::kMaxUsers] = {};
    const int n = store.ReadUserIds(ids, kelm::store::kMaxUsers);
    svc::SetUserIds(s, ids, n);
    return true;
  }
  bool ReadKeyCode(std::uint32_t& key) override { return store.ReadKeyCode(key); }
  void CloseReceiverHandle() override { handleClosed = true; }
  bool SendAnswer(std::uint32_t v, std::uint8_t code) override {
    store.log.push_back("notify " + Str(code) + ":" + Str(v));
    return client;
  }
  void Log(std::string_view) override {}
  bool handleClosed = false;
};

class SvcMachine final : public Machine {
 public:
  SvcMachine(bool software) {
    s_.kw.mode = software ? svc::ServiceMode::Software : svc::ServiceMode::RfKey;
    ops_.ReloadUserIds();
  }
  void Hear(std::uint32_t code, int seconds) override {
    ops_.store.heard = code;
    Seconds(seconds);
  }
  void Unplug() override { ops_.store.receiverPresent = false; }
  void Tray(bool on) override { ops_.client = on; }
  void Command(std::uint32_t code, std::uint32_t arg) override { svc::RunRequest(s_, ops_, {true, code, arg}); }
  void Seconds(int n) override {
    for (int i = 0; i < n; ++i) {
      // A handle closed with the open flag left set fails the next reading.
      if (ops_.handleClosed) {
        ops_.store.receiverOpen = false;
        ops_.store.readFails = true;
      }
      svc::KeyWatchStep(s_, ops_);
      if (ops_.handleClosed && ops_.store.readFails) {
        ops_.store.readFails = false;
        ops_.handleClosed = false;
      }
    }
  }
  void RemoveUser(std::uint32_t id) override {
    ops_.store.users.erase(id);
    std::erase(ops_.store.userIds, id);
  }
  std::string Look() override {
    Log beeps, notices;
    for (auto& b : ops_.store.Only("beep ")) beeps.push_back(b.substr(5));
    for (auto& n : ops_.store.Only("notify 1:")) notices.push_back(n.substr(9));
    const Log mon = ops_.store.Only("monitor ");
    std::string attached;
    for (auto l : s_.driveLetter) attached += l ? static_cast<char>(l) : '-';
    return attached + " " + Str(s_.kw.stateCode) + " " + Str(s_.kw.currentKey) + " " + Str(s_.kw.delay) + " | " +
           Join(beeps) + " | " + Join(notices) + " | " + (mon.empty() ? "" : mon.back().substr(8));
  }

 private:
  svc::ServiceState s_;
  ctl::CtlState unused_;
  SvcOps ops_{s_, unused_};
};

struct Row {
  const char* rule;
  bool software;
  std::function<void(Machine&)> scenario;
  const char* service;
  const char* kelmctl;
};

constexpr std::uint32_t kNoReading = kelm::kNoReading;

}  // namespace

TEST(KelmCtlBesideService, SameScenarioBothPrograms) {
  // Columns: attached slots, state code, current key, delay | beeps |
  // KEYLOST notices | last monitor user.
  const Row rows[] = {
      {"before any user the delay is 3", false, [](Machine&) {}, "---- 3 0 3 |  |  | ",
       "---- 3 0 3 |  |  | 0"},
      {"a key arrives: mounted at once (KelmCtl does not beep)", false, [](Machine& m) { m.Hear(1234, 1); },
       "DE-- 5 1234 2 | 200 |  | 1234", "DE-- 5 1234 2 |  |  | 1234"},
      {"a user without a delay value: 15", false, [](Machine& m) { m.Hear(4321, 1); }, "D--- 5 4321 15 | 200 |  | 4321",
       "D--- 5 4321 15 |  |  | 4321"},
      {"the key stays away past the delay, no tray program", false,
       [](Machine& m) {
         m.Hear(1234, 1);
         m.Hear(0, 3);
       },
       "---- 3 0 2 | 200,1000 | 1234 | 0", "---- 3 0 2 |  | 1234 | 0"},
      {"KEYLOST taken, then KEYTIMEOUT", false,
       [](Machine& m) {
         m.Tray(true);
         m.Hear(1234, 1);
         m.Hear(0, 6);
         m.Command(kelm::kCmdKeyTimeout);
       },
       "---- 3 0 2 | 200,1000 | 1234 | 0", "---- 3 0 2 |  | 1234 | 0"},
      {"another key: the first counts as lost, then the other mounts (KelmCtl waits a second more)", false,
       [](Machine& m) {
         m.Hear(1234, 1);
         m.Hear(5678, 4);
       },
       "D--- 5 5678 2 | 200,1000,200 | 1234 | 5678", "---- 3 0 2 |  | 1234 | 0"},
      {"no reading, then the key: the service ends the mount, KelmCtl reopens the receiver", false,
       [](Machine& m) {
         m.Hear(1234, 1);
         m.Hear(kNoReading, 1);
         m.Hear(1234, 1);
       },
       "---- 3 0 2 | 200,1000 |  | 0", "DE-- 3 1234 2 |  |  | 1234"},
      {"the receiver unplugged: everything goes", false,
       [](Machine& m) {
         m.Hear(1234, 1);
         m.Unplug();
         m.Seconds(1);
       },
       "---- 3 0 2 | 200,1000 |  | 0", "---- 3 0 2 |  |  | 0"},
      {"RELOAD in RF key mode: KelmCtl does not dismount", false,
       [](Machine& m) {
         m.Hear(1234, 1);
         m.Command(kelm::kCmdReload);
       },
       "---- 3 0 2 | 200,1000 |  | 0", "DE-- 5 0 2 |  |  | 1234"},
      {"UNMOUNTALL without a user: KelmCtl still dismounts and tells the monitor", false,
       [](Machine& m) { m.Command(kelm::kCmdUnmountAll); }, "---- 3 0 3 |  |  | ", "---- 3 0 3 |  |  | 0"},
      {"TOGGLEMOUNT 65538: KelmCtl takes the low 16 bits (slot 2)", false,
       [](Machine& m) {
         m.Hear(1234, 1);
         m.Command(kelm::kCmdToggleMount, 65536 + 2);
       },
       "DE-- 5 1234 2 | 200 |  | 1234", "DEF- 5 1234 2 |  |  | 1234"},
      {"a removed user's key: the service forgets it, KelmCtl's table keeps it", false,
       [](Machine& m) {
         m.RemoveUser(4321);  // the last of the three
         m.Command(kelm::kCmdReload);
         m.Hear(4321, 3);
       },
       "---- 3 0 3 |  |  | ", "---- 3 4321 15 |  |  | 4321"},
      {"software log-in and log-out (KelmCtl's log-in beep lasts 500 ms)", true,
       [](Machine& m) {
         m.Command(kelm::kCmdSetUser, 1234);
         m.Seconds(1);
         m.Command(kelm::kCmdSetUser, 1234);
         m.Seconds(1);
       },
       "---- 3 0 2 | 200,1000 |  | 0", "---- 3 0 2 | 500,1000 |  | 0"},
      {"software SETUSER 66770: KelmCtl takes the low 16 bits (1234)", true,
       [](Machine& m) {
         m.Command(kelm::kCmdSetUser, 65536 + 1234);
         m.Seconds(1);
       },
       "---- 5 66770 15 | 200 |  | 66770", "DE-- 5 1234 2 | 500 |  | 1234"},
      {"software: log-out and another log-in within one second", true,
       [](Machine& m) {
         m.Command(kelm::kCmdSetUser, 1234);
         m.Seconds(1);
         m.Command(kelm::kCmdSetUser, 0);
         m.Command(kelm::kCmdSetUser, 5678);
         m.Seconds(1);
       },
       "DE-- 5 5678 2 | 200 |  | 1234", "D--- 5 5678 2 | 500,500 |  | 5678"},
      {"software KEYTIMEOUT: KelmCtl clears the key and logs out", true,
       [](Machine& m) {
         m.Command(kelm::kCmdSetUser, 1234);
         m.Seconds(1);
         m.Command(kelm::kCmdKeyTimeout);
         m.Seconds(1);
       },
       "DE-- 5 1234 2 | 200 |  | 1234", "---- 3 0 2 | 500,1000 |  | 0"},
      {"software RELOAD while mounted: KelmCtl mounts again", true,
       [](Machine& m) {
         m.Command(kelm::kCmdSetUser, 1234);
         m.Seconds(1);
         m.Command(kelm::kCmdReload);
       },
       "DE-- 5 1234 2 | 200 |  | 1234", "DE-- 5 1234 2 | 500,500 |  | 1234"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.rule);
    SvcMachine service(r.software);
    CtlMachine kelmctl(r.software);
    r.scenario(service);
    r.scenario(kelmctl);
    EXPECT_EQ(service.Look(), r.service);
    EXPECT_EQ(kelmctl.Look(), r.kelmctl);
  }
}
