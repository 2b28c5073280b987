// KelmCtl's surroundings for the native tests: a Windows 98 disk driver that
// reads the records it is sent, a receiver, the window's timers advanced a
// second at a time, the tray program's window and the message boxes, whose
// own message loop can run further seconds and commands.
#pragma once
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/devices.h"
#include "ctl98/logic/control.h"

namespace ctltest {

namespace ctl = kelm::ctl;
namespace dev = kelm::dev;
using Log = std::vector<std::string>;

inline std::string Str(std::uint32_t v) { return std::to_string(v); }

struct Fake final : ctl::CtlOperations {
  ctl::CtlState& s;
  explicit Fake(ctl::CtlState& st) : s(st) {}

  // Everything done, in order: "beep 500", "set-user 1234", "mount 0 1234",
  // "letter 0", "dismount 1 1234", "dismount-all", "check", "monitor 0",
  // "notify 7:5", "box 1", "timer+ 34659", "timer- 34660", "hide", "rsp 1".
  Log log;
  std::set<std::string> failing;  // request names that fail
  bool badRecord = false;         // a record the driver could not read

  // --- the store and the driver
  std::map<std::uint32_t, kelm::store::StoredUser> users;
  std::vector<std::uint32_t> userIds;
  int installType = kelm::store::kInstallRfKey;
  bool hasUser = false;
  std::uint32_t driverUser = 0;
  char attached[4] = {};       // drive letters the driver has linked
  int letterAnswer = -1;       // when not -1, the letter query answers this number

  // A user with four slots: "vvaa" style flags per slot (v valid, a auto).
  void AddUser(std::uint32_t id, const char* valid, const char* autoMount, const char* delay = "") {
    kelm::store::StoredUser u{};
    std::snprintf(u.delay, sizeof u.delay, "%s", delay);
    for (int n = 0; n < 4; ++n) {
      std::snprintf(u.slots[n].valid, sizeof u.slots[n].valid, "%s", valid[n] == 'v' ? "yes" : valid[n] == 'V' ? "YES" : "no");
      std::snprintf(u.slots[n].autoMount, sizeof u.slots[n].autoMount, "%s", autoMount[n] == 'a' ? "yes" : "no");
      std::snprintf(u.slots[n].imageFile, sizeof u.slots[n].imageFile, "C:\\u%u_%d.img", unsigned(id), n);
      u.slots[n].sizeMb = 40;
      std::snprintf(u.slots[n].password, sizeof u.slots[n].password, "pw");
    }
    users[id] = u;
    userIds.push_back(id);
  }
  int AttachedCount() const {
    int n = 0;
    for (char c : attached) n += c != 0;
    return n;
  }
  std::string Attached() const {
    std::string out;
    for (char c : attached) out += c ? c : '-';
    return out;
  }

  // --- the receiver
  bool receiverPresent = true, readFails = false, receiverOpen = false;
  std::uint32_t heard = 0;

  // --- window, timers, tray program, boxes
  bool visible = true;
  std::map<unsigned, unsigned> timers;  // id -> period
  std::set<unsigned> failTimers;
  bool trayWindow = false, trayAnswer = true;
  int boxesOnScreen = 0, mostBoxes = 0;
  std::vector<ctl::ErrorBox> boxes;
  std::function<void()> whileBoxShown;
  bool rspResult = true;

  void Beep(unsigned, unsigned ms) override { log.push_back("beep " + Str(ms)); }

  bool DiskRequest(std::uint32_t code, const std::uint8_t* in, std::uint32_t inLength, std::uint8_t* out,
                   std::uint32_t outLength) override {
    switch (code) {
      case dev::kIoctl98Check:
        log.push_back("check");
        return !failing.count("check");
      case dev::kIoctl98SetUser: {
        std::uint32_t id = 0;
        if (inLength != dev::kWin98RecordSize || !dev::ParseWin98UserRecord(in, inLength, id) ||
            std::strcmp(reinterpret_cast<const char*>(in + dev::kWin98UserTextOffset), Str(id).c_str()) != 0) {
          badRecord = true;
          return false;
        }
        log.push_back("set-user " + Str(id));
        if (failing.count("set-user")) return false;
        hasUser = true;
        driverUser = id;
        return true;
      }
      case dev::kIoctl98MountSlot:
      case dev::kIoctl98DismountSlot: {
        std::uint8_t slot = 0;
        std::uint32_t id = 0;
        if (inLength != dev::kWin98RecordSize || !dev::ParseWin98SlotRecord(in, inLength, slot, id)) {
          badRecord = true;
          return false;
        }
        const bool mount = code == dev::kIoctl98MountSlot;
        log.push_back(std::string(mount ? "mount " : "dismount ") + Str(slot) + " " + Str(id));
        if (!mount) {
          if (failing.count("dismount") || !attached[slot]) return false;
          attached[slot] = 0;
          return true;
        }
        if (failing.count("mount") || !hasUser || driverUser != id || attached[slot]) return false;
        auto u = users.find(id);
        if (u == users.end() || !u->second.slots[slot].imageFile[0]) return false;
        char next = 'D';
        for (char c : attached)
          if (c >= next) next = static_cast<char>(c + 1);
        attached[slot] = next;
        return true;
      }
      case dev::kIoctl98LetterQuery:
        if (inLength != 1 || outLength != 1 || in[0] >= 4) {
          badRecord = true;
          return false;
        }
        log.push_back("letter " + Str(in[0]));
        if (failing.count("letter")) return false;
        if (letterAnswer != -1) {
          *out = static_cast<std::uint8_t>(letterAnswer);
          return true;
        }
        if (!attached[in[0]]) return false;
        *out = static_cast<std::uint8_t>(attached[in[0]] - 'A');
        return true;
      case dev::kIoctl98DismountAll:
        log.push_back("dismount-all");
        if (failing.count("dismount-all")) return false;
        for (char& c : attached) c = 0;
        return true;
    }
    badRecord = true;
    return false;
  }

  void SetMonitorUser(std::uint32_t user) override { log.push_back("monitor " + Str(user)); }
  void ReadUser(std::uint32_t user, kelm::store::StoredUser& out) override {
    auto u = users.find(user);
    out = u == users.end() ? kelm::store::StoredUser{} : u->second;
    // The store reader is asked for no passwords.
    for (auto& slot : out.slots) std::memset(slot.password, 0, sizeof slot.password);
  }
  int ReadUserIds(std::uint32_t* ids, int capacity) override {
    int n = 0;
    for (std::uint32_t id : userIds)
      if (n < capacity) ids[n++] = id;
    return n;
  }
  int ReadInstallType() override {
    log.push_back("installtype");
    return installType;
  }
  bool ReceiverPresent() override { return receiverPresent; }
  bool ReadKeyCode(std::uint32_t& key) override {
    if (!receiverOpen) {
      if (!receiverPresent) return false;
      receiverOpen = true;
    }
    if (readFails || !receiverPresent) {
      receiverOpen = false;
      return false;
    }
    key = heard;
    return true;
  }
  void CloseReceiver() override {
    log.push_back("close-receiver");
    receiverOpen = false;
  }
  bool StartTimer(unsigned id, unsigned periodMs) override {
    if (failTimers.count(id)) return false;
    log.push_back("timer+ " + Str(id));
    timers[id] = periodMs;
    return true;
  }
  void StopTimer(unsigned id) override {
    if (timers.erase(id)) log.push_back("timer- " + Str(id));
  }
  bool HideWindow() override {
    log.push_back("hide");
    const bool was = visible;
    visible = false;
    return was;
  }
  bool Notify(std::uint8_t kind, std::uint32_t value) override {
    log.push_back("notify " + Str(kind) + ":" + Str(value));
    return trayWindow && trayAnswer;
  }
  void ShowError(ctl::ErrorBox box) override {
    log.push_back("box " + Str(static_cast<unsigned>(box)));
    boxes.push_back(box);
    ++boxesOnScreen;
    if (boxesOnScreen > mostBoxes) mostBoxes = boxesOnScreen;
    if (whileBoxShown) {
      auto loop = std::move(whileBoxShown);  // the box's own message loop, once
      loop();
    }
    --boxesOnScreen;
  }
  bool RegisterServiceProcess(bool on) override {
    log.push_back(on ? "rsp 1" : "rsp 0");
    return rspResult;
  }

  bool Running(unsigned id) const { return timers.count(id) != 0; }
  std::string Timers() const {
    std::string out;
    for (auto& t : timers) out += (out.empty() ? "" : " ") + Str(t.first);
    return out;
  }
  // The entries of the log that start with prefix, from index `from` on.
  Log Only(const std::string& prefix, size_t from = 0) const {
    Log out;
    for (size_t i = from; i < log.size(); ++i)
      if (log[i].rfind(prefix, 0) == 0) out.push_back(log[i]);
    return out;
  }
};

// The program from its dialog initialisation on, a second at a time. A
// timer started during a second fires first in the next one.
struct Program {
  ctl::CtlState s;
  Fake ops{s};

  void Boot() { ctl::Start(s, ops); }
  void Second() {
    const std::map<unsigned, unsigned> due = ops.timers;
    if (due.count(ctl::kTimerHide))
      for (int i = 0; i < 10 && ops.Running(ctl::kTimerHide); ++i) ctl::HideTick(s, ops);
    if (due.count(ctl::kTimerWaitReceiver) && ops.Running(ctl::kTimerWaitReceiver)) ctl::WaitReceiverTick(s, ops);
    if (due.count(ctl::kTimerKeyWatch) && ops.Running(ctl::kTimerKeyWatch)) ctl::KeyWatchStep(s, ops);
  }
  void Seconds(int n) {
    for (int i = 0; i < n; ++i) Second();
  }
  // Started and watching: the hiding tick, then the wait for the receiver.
  void Run() {
    Boot();
    Seconds(2);
  }
  int Command(std::uint32_t code, std::uintptr_t arg = 0) { return ctl::RunCommand(s, ops, code, arg); }
  size_t Mark() const { return ops.log.size(); }
};

}  // namespace ctltest
