#include "service/logic/keywatch.h"

#include "common/keyrules.h"

namespace kelm::svc {

namespace {

constexpr unsigned kBeepHz = 5000;
constexpr unsigned kBeepEndMs = 1000;

// The key watch's own dismount: the beep follows a successful dismount.
void DropDisks(ServiceState& s, ServiceOperations& ops) {
  if (!s.kw.mounted) return;
  if (ops.UnmountAll() != 0) return;
  ops.SetMonitorUser(0);
  s.kw.stateCode = kStateNotMounted;
  ops.Beep(kBeepHz, kBeepEndMs);
  ops.ClearUserConfig();
  s.kw.mounted = false;
}

void ResetCounters(KeyWatchState& kw) { kw.absentCount = kw.changeCount = 0; }

// The tray program decides when it is told; without it the disks go now.
void KeyLost(ServiceState& s, ServiceOperations& ops, std::uint32_t key) {
  if (ops.SendAnswer(key, kAnsKeyLost)) {
    s.kw.watching = false;
    return;
  }
  DropDisks(s, ops);
  s.kw.currentKey = kNoKey;
}

void KeyEvent(ServiceState& s, ServiceOperations& ops, std::uint32_t v) {
  KeyWatchState& kw = s.kw;
  const std::uint32_t c = kw.currentKey;
  switch (CountKeyEvent(v, c, kw.delay, kw.absentCount, kw.changeCount)) {
    case KeyEventKind::Arrived:
      kw.currentKey = v;
      if (!kw.mounted) StartUserDisks(s, ops);
      break;
    case KeyEventKind::Lost:
      KeyLost(s, ops, c);
      break;
    case KeyEventKind::Same:
    case KeyEventKind::Counting:
      break;
  }
}

void SoftwareStep(ServiceState& s, ServiceOperations& ops) {
  KeyWatchState& kw = s.kw;
  if (kw.currentKey == kw.previousKey) return;
  if (kw.currentKey != kNoKey) {
    if (!kw.mounted) StartUserDisks(s, ops);
    kw.previousKey = kw.currentKey;
    return;
  }
  if (kw.mounted) {
    ops.Beep(kBeepHz, kBeepEndMs);
    if (ops.UnmountAll() == 0) {
      ops.SetMonitorUser(0);
      ops.ClearUserConfig();
      kw.mounted = false;
      kw.stateCode = kStateNotMounted;
    }
  }
  kw.previousKey = kNoKey;
}

void RfKeyStep(ServiceState& s, ServiceOperations& ops) {
  KeyWatchState& kw = s.kw;
  std::uint32_t reading = 0;
  if (!ops.ReadKeyCode(reading)) {
    // A receiver that goes away ends the user's disks at once. (A failed
    // reading has already closed its handle.)
    if (IsUserKey(kw.currentKey)) {
      DropDisks(s, ops);
      kw.watching = true;
      kw.currentKey = kNoKey;
    }
    ResetCounters(kw);
    return;
  }
  if (reading == kNoReading) {
    // The next reading fails, the one after reopens the receiver.
    ops.CloseReceiverHandle();
    return;
  }
  if (!kw.watching) return;
  KeyEvent(s, ops, reading == kNoKey || IsKnownUser(s, reading) ? reading : kNoKey);
}

}  // namespace

bool IsKnownUser(const ServiceState& s, std::uint32_t key) { return InUserIdTable(s.userIds, key); }

void SetUserIds(ServiceState& s, const std::uint32_t* ids, int count) {
  for (int i = 0; i < store::kMaxUsers; ++i) s.userIds[i] = (ids && i < count) ? ids[i] : 0;
}

void KeyWatchStep(ServiceState& s, ServiceOperations& ops) {
  if (s.kw.mode == ServiceMode::Software)
    SoftwareStep(s, ops);
  else
    RfKeyStep(s, ops);
}

void FinalDismount(ServiceState& s, ServiceOperations& ops) {
  EndUserDisks(s, ops);
  if (s.kw.mode == ServiceMode::RfKey) ops.CloseReceiverHandle();
}

}  // namespace kelm::svc
