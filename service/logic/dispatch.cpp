#include "service/logic/dispatch.h"

#include "common/keyrules.h"
#include "service/logic/svclog.h"

namespace kelm::svc {

namespace {
constexpr unsigned kBeepHz = 5000;
constexpr unsigned kBeepStartMs = 200;
constexpr unsigned kBeepEndMs = 1000;

void FinishDismount(ServiceState& s, ServiceOperations& ops) {
  if (ops.UnmountAll() != 0) return;
  ops.SetMonitorUser(0);
  ops.ClearUserConfig();
  s.kw.mounted = false;
}
}  // namespace

void StartUserDisks(ServiceState& s, ServiceOperations& ops) {
  const std::uint32_t key = s.kw.currentKey;
  ops.Beep(kBeepHz, kBeepStartMs);
  ops.UnmountAll();
  if (!ops.LoadUserConfig(key)) return;
  ops.SetMonitorUser(key);
  if (ops.AutoMountAll(key) == 0) {
    s.kw.stateCode = kStateMounted;
    s.kw.mounted = true;
  }
}

void EndUserDisks(ServiceState& s, ServiceOperations& ops) {
  if (!s.kw.mounted || !IsUserKey(s.kw.currentKey)) return;
  ops.Beep(kBeepHz, kBeepEndMs);
  FinishDismount(s, ops);
}

void UnmountAllDisks(ServiceState& s, ServiceOperations& ops) {
  if (!s.kw.mounted || !IsUserKey(s.kw.currentKey)) return;
  ops.Beep(kBeepHz, kBeepEndMs);
  s.kw.stateCode = kStateNotMounted;
  FinishDismount(s, ops);
}

void RunRequest(ServiceState& s, ServiceOperations& ops, const Request& r) {
  if (!r.isCmd) return;
  KeyWatchState& kw = s.kw;
  const bool rf = kw.mode == ServiceMode::RfKey;
  switch (r.code) {
    case kCmdReload:
      if (rf) {
        EndUserDisks(s, ops);
        ops.ReloadUserIds();
        kw.currentKey = kNoKey;
        kw.watching = true;
      } else if (IsUserKey(kw.currentKey) && !kw.mounted) {
        StartUserDisks(s, ops);
      }
      break;
    case kCmdUnmountAll:
      if (rf) kw.watching = false;
      UnmountAllDisks(s, ops);
      break;
    case kCmdReceiverBack:
    case kCmdKeyBack:
      if (rf) kw.watching = true;
      break;
    case kCmdKeyTimeout:
      if (rf) {
        EndUserDisks(s, ops);
        kw.currentKey = kNoKey;
        kw.watching = true;
      }
      break;
    case kCmdGetState:
      ops.SendAnswer(kw.stateCode, kAnsState);
      break;
    case kCmdGetKey:
      ops.SendAnswer(kw.currentKey, kAnsKey);
      break;
    case kCmdCheckMount:
      for (unsigned slot = 0; slot < kSlotCount; ++slot)
        if (!ops.SendAnswer(DriveLetterValue(slot, s.driveLetter[slot]), kAnsDriveLetter))
          ops.Log(kLogCheckMountFail);
      break;
    case kCmdToggleMount:
      if (r.arg < kSlotCount) {
        std::uint8_t letter = s.driveLetter[r.arg];
        if (letter == 0)
          ops.MountSlot(r.arg);
        else if (ops.UnmountSlot(letter) == 0)
          s.driveLetter[r.arg] = 0;
      }
      break;
    case kCmdSetUser:
      if (!rf) ApplySetUser(kw.setUser, kw.currentKey, r.arg);
      break;
    default:
      break;
  }
}

void HandleRequestText(ServiceState& s, ServiceOperations& ops, std::string_view text) {
  ops.Log(text);
  RunRequest(s, ops, ParseRequest(text));
}

}  // namespace kelm::svc
