// KelmCtl's state machine: what the mount service does on Windows 2000/XP,
// on Windows 98, driven by three timers and WM_APP commands instead of a
// service loop and a pipe. Pure: the Windows 98 disk driver, the receiver,
// the store, the file monitor, the window with its timers and message boxes
// are behind CtlOperations.
#pragma once
#include <cstdint>
#include <optional>

#include "common/protocol.h"
#include "common/storefields.h"

namespace kelm::ctl {

enum class Mode { SoftwareMode, RfKeyMode };

// The window's timers, each with its own routine.
inline constexpr unsigned kTimerHide = 34662;          // hides the window, then waits for the receiver
inline constexpr unsigned kTimerWaitReceiver = 34660;  // starts the key watch once the receiver is there
inline constexpr unsigned kTimerKeyWatch = 34659;      // one key watch step
inline constexpr unsigned kHidePeriodMs = 100;
inline constexpr unsigned kStepPeriodMs = 1000;

inline constexpr unsigned kMsgMonitorRequest = 0x8000;  // WM_APP: lParam code, wParam argument
inline constexpr unsigned kMsgServiceNotify = 0x7FFF;   // to the tray program: wParam kind, lParam value
inline constexpr const char* kWindowTitle = "KelmMonitor";
inline constexpr const char* kTrayWindowTitle = "Virtual Disk Manager";
inline constexpr const char* kMutexName = "CMainCtrl98";
inline constexpr unsigned kMutexWaitMs = 3000;

inline constexpr unsigned kBeepHz = 5000;
inline constexpr unsigned kBeepMountMs = 500;
inline constexpr unsigned kBeepDismountMs = 1000;

// Only the low 16 bits of a command's argument count.
inline constexpr std::uint32_t CommandArgument(std::uintptr_t wParam) {
  return static_cast<std::uint32_t>(wParam & 0xFFFF);
}

// The three message boxes; caption "Error", warning icon.
enum class ErrorBox { SwitchUser, MountDisk, SetUserId };
inline constexpr const char* kErrorCaption = "Error";
const char* ErrorBoxText(ErrorBox box);

struct SlotTable {
  store::StoredSlot slots[store::kSlotCount] = {};  // no passwords: the driver reads its own
  std::uint8_t letters[store::kSlotCount] = {};     // 'A'..'Z', 0 when not mounted
};

struct CtlState {
  Mode mode = Mode::RfKeyMode;
  std::uint32_t currentKey = kNoKey;
  std::uint32_t previousKey = kNoKey;  // software mode: the key the last step acted on
  std::uint32_t setUser = 0;           // software mode: last SETUSER
  std::uint32_t stateCode = kStateNotMounted;
  bool watching = false;
  std::uint32_t delay = 3;  // until a user's disks are mounted
  std::uint32_t absentCount = 0;
  std::uint32_t changeCount = 0;
  SlotTable table;
  std::uint32_t userIds[store::kMaxUsers] = {};
  bool registered = false;  // as a service process

  // A message box runs a message loop of its own in which the timers and
  // the commands go on. A failure only notes its box; the box is shown once
  // the step or command has finished, and never while another one is up.
  std::optional<ErrorBox> pendingBox;
  bool boxShown = false;
  bool stepRunning = false;
};

class CtlOperations {
 public:
  virtual void Beep(unsigned frequency, unsigned milliseconds) = 0;
  // One request to the Windows 98 disk driver "\\.\kelm"; false when it fails.
  virtual bool DiskRequest(std::uint32_t code, const std::uint8_t* in, std::uint32_t inLength, std::uint8_t* out,
                           std::uint32_t outLength) = 0;
  // The file monitor's user and WIN.INI "kelmkey" / "keyid".
  virtual void SetMonitorUser(std::uint32_t user) = 0;
  // The user's stored slots and delay without passwords; every field empty
  // when the user has no key.
  virtual void ReadUser(std::uint32_t user, store::StoredUser& out) = 0;
  // UserIds of the store's user keys from index 0; returns the count.
  virtual int ReadUserIds(std::uint32_t* ids, int capacity) = 0;
  virtual int ReadInstallType() = 0;
  virtual bool ReceiverPresent() = 0;
  // Opens the receiver when it is not open; false when that or the reading
  // fails (the receiver is then closed).
  virtual bool ReadKeyCode(std::uint32_t& key) = 0;
  virtual void CloseReceiver() = 0;
  virtual bool StartTimer(unsigned id, unsigned periodMs) = 0;
  virtual void StopTimer(unsigned id) = 0;
  // Hides the window; true when it was visible.
  virtual bool HideWindow() = 0;
  // Sends kind and value to "Virtual Disk Manager"; true when it answered 1
  // (false without such a window).
  virtual bool Notify(std::uint8_t kind, std::uint32_t value) = 0;
  // Shows the box and returns when it has been answered.
  virtual void ShowError(ErrorBox box) = 0;
  virtual bool RegisterServiceProcess(bool on) = 0;

 protected:
  ~CtlOperations() = default;
};

// Dialog initialisation once the single-instance mutex is held: slot table,
// monitor user 0, UserId table, hiding, mode, timer 34662, service process.
void Start(CtlState& s, CtlOperations& ops);

// The timer routines.
void HideTick(CtlState& s, CtlOperations& ops);
void WaitReceiverTick(CtlState& s, CtlOperations& ops);
void KeyWatchStep(CtlState& s, CtlOperations& ops);

// One WM_APP command (lParam code, wParam argument); the window's answer:
// 1, or 0 when UNMOUNTALL's dismount all was refused by the driver.
int RunCommand(CtlState& s, CtlOperations& ops, std::uintptr_t code, std::uintptr_t argument);

// After the mutex is released: the service process registration and the
// monitor user.
void End(CtlState& s, CtlOperations& ops);

// Overwrites UserIdTable from index 0 with the store's UserIds; entries past
// them stay as they were.
void ReloadUserIds(CtlState& s, CtlOperations& ops);

}  // namespace kelm::ctl
