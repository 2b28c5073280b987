// The service's disk work on Windows 2000 and XP: loading one user's slots,
// attaching their image files to the virtual disk driver under free drive
// letters, and taking them away again. Pure: the devices, the drive mask,
// file attributes and the store are behind MountEnvironment.
#pragma once
#include <cstdint>
#include <string_view>

#include "common/devices.h"
#include "common/storefields.h"

namespace kelm::svc {

struct ServiceState;

inline constexpr int kPlatform2000 = 2000;
inline constexpr int kPlatformXp = 2001;
inline constexpr std::uint32_t kDefaultUserDelay = 15;

// The loaded user's configuration.
struct SlotTable {
  char loadedUser[100] = {};  // decimal UserId, empty when none is loaded
  store::StoredSlot slots[store::kSlotCount] = {};
};

// What one attach or dismount needs from the system. The control device and
// the volume are opened by one call each and stay open until closed (the
// sequences open each at most once at a time).
class MountEnvironment {
 public:
  virtual int PlatformVersion() = 0;
  virtual std::uint32_t LogicalDrives() = 0;          // bit 0 = A:
  virtual bool ImageFileUsable(const char* path) = 0;  // exists, not exactly a directory
  // The stored configuration of "%u"; false when the user key is missing
  // (out is then all empty). Passwords come deciphered.
  virtual bool ReadUser(std::uint32_t userId, store::StoredUser& out) = 0;

  virtual bool OpenControl() = 0;
  virtual void CloseControl() = 0;
  virtual bool OpenVolume(char letter) = 0;
  virtual void CloseVolume() = 0;
  virtual bool ControlRequest(std::uint32_t code, const std::uint8_t* in, std::uint32_t len) = 0;
  virtual bool VolumeRequest(std::uint32_t code, const std::uint8_t* in, std::uint32_t len) = 0;

  // DOS device definitions (Windows XP sequence).
  virtual bool LetterDefined(char letter) = 0;
  virtual bool DefineLetter(char letter, unsigned slot) = 0;  // raw "\Device\kelm\Kelm%u"
  virtual void RemoveDefinition(char letter) = 0;

  virtual void Log(std::string_view message) = 0;

 protected:
  ~MountEnvironment() = default;
};

bool IsYes(const char* text);

// The letter after the highest one in use ('B' when none is), or 0 when Z:
// is in use. Lower free letters are never chosen.
char PickDriveLetter(std::uint32_t logicalDrives);

// A slot that may be mounted, before the image file itself is looked at.
bool SlotMountable(const store::StoredSlot& slot);

void ClearUserConfig(ServiceState& s);
int LoadUserConfig(ServiceState& s, MountEnvironment& env, std::uint32_t key);  // 1 loaded, 0 refused
void MountSlot(ServiceState& s, MountEnvironment& env, unsigned slot);
int AutoMountAll(ServiceState& s, MountEnvironment& env, std::uint32_t key);    // 0 done, -1 not loaded
int UnmountSlot(ServiceState& s, MountEnvironment& env, char letter);           // 0 done, -1 failed
int UnmountAll(ServiceState& s, MountEnvironment& env);                         // 0 done, -1 failed
void DismountVolume(MountEnvironment& env, char letter);

// One attach sequence of the platform; every failure undoes what it set up.
// False on failure (and on a platform without a sequence).
bool AttachImage(MountEnvironment& env, unsigned slot, char letter, const dev::OpenFileInfo& record);

}  // namespace kelm::svc
