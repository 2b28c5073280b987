// The service's shared state and the pipe commands that act on it. Pure:
// the mount work and the pipe itself are behind ServiceOperations.
#pragma once
#include <cstdint>
#include <string_view>

#include "common/protocol.h"
#include "common/storefields.h"
#include "service/logic/mount.h"

namespace kelm::svc {

enum class ServiceMode { Software, RfKey };

struct KeyWatchState {
  ServiceMode mode = ServiceMode::RfKey;
  std::uint32_t currentKey = kNoKey;
  bool mounted = false;                   // the current user's disks
  std::uint32_t stateCode = kStateNotMounted;
  bool watching = true;                   // receiver readings are acted on
  std::uint32_t delay = 3;                // steps a key may be missing
  std::uint32_t absentCount = 0;
  std::uint32_t changeCount = 0;
  std::uint32_t previousKey = 0;          // software mode
  std::uint32_t setUser = 0;              // software mode: last SETUSER
};

inline constexpr unsigned kSlotCount = 4;

struct ServiceState {
  KeyWatchState kw;
  SlotTable table;
  // The drive letter each slot is mounted as (upper-case ASCII), 0 if none.
  std::uint8_t driveLetter[kSlotCount] = {};
  // The UserIds of the store's user keys, by enumeration index; 0 is empty.
  std::uint32_t userIds[store::kMaxUsers] = {};
};

inline bool IsUserKey(std::uint32_t key) { return key != kNoKey && key != kNoReading; }

// What the commands need from the rest of the service. Implementations act
// on the same ServiceState (UnmountAll clears the letters and sets state
// code 3, for example).
class ServiceOperations {
 public:
  virtual void Beep(unsigned frequency, unsigned milliseconds) = 0;
  virtual int UnmountAll() = 0;                         // 0 done, -1 failed
  virtual int LoadUserConfig(std::uint32_t key) = 0;    // 1 loaded, 0 refused
  virtual void ClearUserConfig() = 0;
  virtual void SetMonitorUser(std::uint32_t user) = 0;
  virtual int AutoMountAll(std::uint32_t key) = 0;      // 0 done, -1 not loaded
  virtual void MountSlot(unsigned slot) = 0;
  virtual int UnmountSlot(std::uint8_t letter) = 0;     // 0 done, -1 failed
  virtual bool ReloadUserIds() = 0;
  // The receiver: a reading (false when it failed; the handle is then
  // closed), and closing the handle while keeping it counted as open.
  virtual bool ReadKeyCode(std::uint32_t& key) = 0;
  virtual void CloseReceiverHandle() = 0;
  virtual bool SendAnswer(std::uint32_t value, std::uint8_t code) = 0;
  virtual void Log(std::string_view message) = 0;

 protected:
  ~ServiceOperations() = default;
};

// Sequence S: start the current key's disks.
void StartUserDisks(ServiceState& s, ServiceOperations& ops);
// Sequence E1 (RELOAD, KEYTIMEOUT): end the user's disks if mounted.
void EndUserDisks(ServiceState& s, ServiceOperations& ops);
// Sequence E2 (UNMOUNTALL): like E1, but the state code drops to 3 first.
void UnmountAllDisks(ServiceState& s, ServiceOperations& ops);

// Carries out one parsed request (ignored unless its name is "CMD").
void RunRequest(ServiceState& s, ServiceOperations& ops, const Request& r);

// Logs the request text unchanged, then parses and runs it.
void HandleRequestText(ServiceState& s, ServiceOperations& ops, std::string_view text);

}  // namespace kelm::svc
