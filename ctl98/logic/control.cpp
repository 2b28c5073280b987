#include "ctl98/logic/control.h"

#include <array>

#include "common/devices.h"
#include "common/keyrules.h"

namespace kelm::ctl {

namespace {

constexpr std::uint8_t kDriveCount = 26;

bool IsUserKey(std::uint32_t key) { return key != kNoKey && key != kNoReading; }

// Shown at the end of the step or command; the first failure is the one
// the user hears about.
void Fail(CtlState& s, ErrorBox box) {
  if (!s.pendingBox) s.pendingBox = box;
}

void ShowPendingBox(CtlState& s, CtlOperations& ops) {
  if (!s.pendingBox) return;
  const ErrorBox box = *s.pendingBox;
  s.pendingBox.reset();
  // The box already on the screen says that the driver refuses.
  if (s.boxShown) return;
  s.boxShown = true;
  ops.ShowError(box);
  s.boxShown = false;
}

bool Request(CtlOperations& ops, std::uint32_t code) { return ops.DiskRequest(code, nullptr, 0, nullptr, 0); }

bool SetDriverUser(CtlOperations& ops, std::uint32_t user) {
  const auto record = dev::Win98UserRecord(user);
  return ops.DiskRequest(dev::kIoctl98SetUser, record.data(), record.size(), nullptr, 0);
}

bool SlotRequest(CtlOperations& ops, std::uint32_t code, unsigned slot, std::uint32_t user) {
  std::array<std::uint8_t, dev::kWin98RecordSize> record;
  if (!dev::Win98SlotRecord(slot, user, record)) return false;
  return ops.DiskRequest(code, record.data(), record.size(), nullptr, 0);
}

// 0 when the driver does not answer or names no drive from A: to Z:.
std::uint8_t QueryLetter(CtlOperations& ops, unsigned slot) {
  const std::uint8_t in = static_cast<std::uint8_t>(slot);
  std::uint8_t drive = 0xFF;
  if (!ops.DiskRequest(dev::kIoctl98LetterQuery, &in, 1, &drive, 1) || drive >= kDriveCount) return 0;
  return static_cast<std::uint8_t>('A' + drive);
}

bool DismountAll(CtlState& s, CtlOperations& ops) {
  if (!Request(ops, dev::kIoctl98DismountAll)) return false;
  for (auto& letter : s.table.letters) letter = 0;
  return true;
}

void LoadSlotTable(CtlState& s, CtlOperations& ops, std::uint32_t user) {
  store::StoredUser stored{};
  ops.ReadUser(user, stored);
  for (unsigned n = 0; n < store::kSlotCount; ++n) {
    s.table.slots[n] = stored.slots[n];
    s.table.slots[n].password[0] = '\0';
  }
  s.delay = store::DelaySeconds(stored.delay);
}

void MountUserDisks(CtlState& s, CtlOperations& ops, std::uint32_t user) {
  LoadSlotTable(s, ops, user);
  DismountAll(s, ops);
  if (!SetDriverUser(ops, user)) {
    Fail(s, ErrorBox::SwitchUser);
    return;
  }
  for (unsigned n = 0; n < store::kSlotCount; ++n) {
    s.table.letters[n] = 0;
    const store::StoredSlot& slot = s.table.slots[n];
    if (!store::IsYes(slot.valid) || !store::IsYes(slot.autoMount)) continue;
    s.stateCode = kStateMounted;
    if (!SlotRequest(ops, dev::kIoctl98MountSlot, n, user)) {
      Fail(s, ErrorBox::MountDisk);
      return;
    }
    s.table.letters[n] = QueryLetter(ops, n);
  }
}

// TOGGLEMOUNT of a slot without a letter.
void MountOneSlot(CtlState& s, CtlOperations& ops, unsigned n) {
  const std::uint32_t key = s.currentKey;
  if (key == kNoKey || !Request(ops, dev::kIoctl98Check)) return;
  if (!SetDriverUser(ops, key)) {
    Fail(s, ErrorBox::SetUserId);
    return;
  }
  if (s.table.letters[n] != 0 || !store::IsYes(s.table.slots[n].valid)) return;
  if (SlotRequest(ops, dev::kIoctl98MountSlot, n, key))
    s.table.letters[n] = QueryLetter(ops, n);
  else
    Fail(s, ErrorBox::MountDisk);
}

bool EndUser(CtlState& s, CtlOperations& ops) {
  const bool dismounted = DismountAll(s, ops);
  ops.SetMonitorUser(0);
  return dismounted;
}

void StopWatch(CtlState& s, CtlOperations& ops) {
  s.watching = false;
  ops.StopTimer(kTimerKeyWatch);
  ops.StopTimer(kTimerWaitReceiver);
}

void WaitForReceiver(CtlOperations& ops) { ops.StartTimer(kTimerWaitReceiver, kStepPeriodMs); }

void SoftwareStep(CtlState& s, CtlOperations& ops) {
  // The key this step acts on: a SETUSER that comes while its box is up is
  // a change for the next step.
  const std::uint32_t key = s.currentKey;
  if (key == s.previousKey) return;
  if (key != kNoKey) {
    ops.Beep(kBeepHz, kBeepMountMs);
    MountUserDisks(s, ops, key);
    ops.SetMonitorUser(key);
    s.stateCode = kStateMounted;
  } else {
    ops.Beep(kBeepHz, kBeepDismountMs);
    EndUser(s, ops);
    s.stateCode = kStateNotMounted;
  }
  s.previousKey = key;
}

// The tray program decides when it takes the notice; without it the disks
// go now and the watch starts again from waiting for the receiver.
void KeyLost(CtlState& s, CtlOperations& ops, std::uint32_t key) {
  StopWatch(s, ops);
  if (ops.Notify(kAnsKeyLost, key)) return;
  DismountAll(s, ops);
  s.currentKey = kNoKey;
  ops.SetMonitorUser(0);
  WaitForReceiver(ops);
  s.stateCode = kStateNotMounted;
}

void KeyEvent(CtlState& s, CtlOperations& ops, std::uint32_t v) {
  const std::uint32_t c = s.currentKey;
  switch (CountKeyEvent(v, c, s.delay, s.absentCount, s.changeCount)) {
    case KeyEventKind::Arrived:
      s.currentKey = v;
      MountUserDisks(s, ops, v);
      ops.SetMonitorUser(v);
      break;
    case KeyEventKind::Lost:
      KeyLost(s, ops, c);
      break;
    case KeyEventKind::Same:
    case KeyEventKind::Counting:
      break;
  }
}

void RfKeyStep(CtlState& s, CtlOperations& ops) {
  std::uint32_t reading = 0;
  if (!ops.ReadKeyCode(reading)) {
    // The receiver is gone: everything goes at once, then wait for it.
    StopWatch(s, ops);
    DismountAll(s, ops);
    s.currentKey = kNoKey;
    ops.SetMonitorUser(0);
    WaitForReceiver(ops);
    s.stateCode = kStateNotMounted;
    s.absentCount = s.changeCount = 0;
    return;
  }
  if (!s.watching) return;
  if (reading == kNoReading) {
    ops.CloseReceiver();  // opened again by the next step
    s.stateCode = kStateNotMounted;
    return;
  }
  KeyEvent(s, ops, InUserIdTable(s.userIds, reading) ? reading : kNoKey);
}

}  // namespace

const char* ErrorBoxText(ErrorBox box) {
  switch (box) {
    case ErrorBox::SwitchUser:
      return "Switch user Fail. Can not mount the virtaul disk.";
    case ErrorBox::MountDisk:
      return "Mount Virtual Disk Fail.";
    case ErrorBox::SetUserId:
      return "Set user Id. Can not mount the virtaul disk.";
  }
  return "";
}

void ReloadUserIds(CtlState& s, CtlOperations& ops) {
  std::uint32_t ids[store::kMaxUsers] = {};
  int count = ops.ReadUserIds(ids, store::kMaxUsers);
  if (count > store::kMaxUsers) count = store::kMaxUsers;
  for (int i = 0; i < count; ++i) s.userIds[i] = ids[i];
}

void Start(CtlState& s, CtlOperations& ops) {
  s.table = SlotTable{};
  ops.SetMonitorUser(0);
  for (auto& id : s.userIds) id = 0;
  ops.HideWindow();
  s.mode = ops.ReadInstallType() == store::kInstallSoftware ? Mode::SoftwareMode : Mode::RfKeyMode;
  ops.StartTimer(kTimerHide, kHidePeriodMs);
  s.registered = ops.RegisterServiceProcess(true);
}

void HideTick(CtlState&, CtlOperations& ops) {
  if (ops.HideWindow()) return;  // look again at the next tick
  ops.StopTimer(kTimerHide);
  WaitForReceiver(ops);
}

void WaitReceiverTick(CtlState& s, CtlOperations& ops) {
  const bool software = s.mode == Mode::SoftwareMode;
  if (software || ops.ReceiverPresent()) {
    ReloadUserIds(s, ops);
    if (ops.StartTimer(kTimerKeyWatch, kStepPeriodMs)) {
      ops.StopTimer(kTimerWaitReceiver);
      s.watching = true;
    }
    if (!software) return;
  }
  s.stateCode = kStateNotMounted;
}

void KeyWatchStep(CtlState& s, CtlOperations& ops) {
  if (s.stepRunning) return;
  s.stepRunning = true;
  if (s.mode == Mode::SoftwareMode)
    SoftwareStep(s, ops);
  else
    RfKeyStep(s, ops);
  s.stepRunning = false;
  ShowPendingBox(s, ops);
}

int RunCommand(CtlState& s, CtlOperations& ops, std::uintptr_t code, std::uintptr_t argument) {
  const bool rf = s.mode == Mode::RfKeyMode;
  int answer = 1;
  const std::uint32_t arg = CommandArgument(argument);
  switch (code) {
    case kCmdReload:
      if (rf) {
        // Nothing is dismounted: the next reading learns the key again.
        StopWatch(s, ops);
        WaitForReceiver(ops);
        s.currentKey = kNoKey;
      } else if (const std::uint32_t key = s.currentKey; IsUserKey(key)) {
        ops.Beep(kBeepHz, kBeepMountMs);
        MountUserDisks(s, ops, key);
        ops.SetMonitorUser(key);
        s.stateCode = kStateMounted;
      }
      break;
    case kCmdUnmountAll:
      if (rf) StopWatch(s, ops);
      // The configuration goes ahead only on 1: disks the driver kept
      // mounted must not be reported dismounted.
      if (!EndUser(s, ops)) answer = 0;
      s.stateCode = kStateNotMounted;
      break;
    case kCmdReceiverBack:
    case kCmdKeyBack:
      if (rf) WaitForReceiver(ops);
      break;
    case kCmdKeyTimeout:
      s.currentKey = kNoKey;
      if (rf) {
        EndUser(s, ops);
        WaitForReceiver(ops);
        s.stateCode = kStateNotMounted;
      }
      break;
    case kCmdGetState:
      ops.Notify(kAnsState, s.stateCode);
      break;
    case kCmdGetKey:
      ops.Notify(kAnsKey, s.currentKey);
      break;
    case kCmdCheckMount:
      for (unsigned slot = 0; slot < store::kSlotCount; ++slot)
        ops.Notify(kAnsDriveLetter, DriveLetterValue(slot, s.table.letters[slot]));
      break;
    case kCmdToggleMount:
      if (arg < store::kSlotCount) {
        if (s.table.letters[arg] == 0)
          MountOneSlot(s, ops, arg);
        else if (SlotRequest(ops, dev::kIoctl98DismountSlot, arg, s.currentKey))
          s.table.letters[arg] = 0;
      }
      break;
    case kCmdSetUser:
      if (!rf) ApplySetUser(s.setUser, s.currentKey, arg);
      break;
    default:
      break;
  }
  ShowPendingBox(s, ops);
  return answer;
}

void End(CtlState& s, CtlOperations& ops) {
  if (s.registered) {
    ops.RegisterServiceProcess(false);
    s.registered = false;
  }
  // Nobody watches the key any more.
  ops.SetMonitorUser(0);
}

}  // namespace kelm::ctl
