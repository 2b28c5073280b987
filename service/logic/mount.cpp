#include "service/logic/mount.h"

#include "common/textutil.h"
#include "service/logic/dispatch.h"
#include "service/logic/svclog.h"

namespace kelm::svc {

namespace {

constexpr std::uint32_t kMinMountMb = 32;  // a slot must be larger than this

char SlotDigit(unsigned slot) { return static_cast<char>('0' + slot); }

bool SendLink(MountEnvironment& env, bool toVolume, std::uint32_t code,
              const std::array<std::uint8_t, 2>& rec) {
  return toVolume ? env.VolumeRequest(code, rec.data(), 2) : env.ControlRequest(code, rec.data(), 2);
}

bool Attach2000(MountEnvironment& env, unsigned slot, char letter, const dev::OpenFileInfo& record) {
  const auto link = dev::CreateLinkRecord(letter, slot);
  const auto undo = dev::RemoveLinkRecord(letter, SlotDigit(slot));
  if (!env.OpenControl()) return false;
  if (!SendLink(env, false, dev::IOCTL_CREATE_SYM_LINK, link)) {
    env.CloseControl();
    return false;
  }
  if (!env.OpenVolume(letter)) {
    SendLink(env, false, dev::kIoctlRemoveLink, undo);
    env.CloseControl();
    return false;
  }
  const bool ok = env.VolumeRequest(dev::IOCTL_FILE_DISK_OPEN_FILE, record.bytes.data(), record.passLength);
  if (!ok) SendLink(env, false, dev::kIoctlRemoveLink, undo);
  env.CloseVolume();
  env.CloseControl();
  return ok;
}

bool AttachXp(MountEnvironment& env, unsigned slot, char letter, const dev::OpenFileInfo& record) {
  if (env.LetterDefined(letter)) {
    env.Log(kLogXpLetterDefined);
    return false;
  }
  if (!env.OpenControl()) {
    env.Log(kLogXpControlOpenFail);
    return false;
  }
  if (!env.DefineLetter(letter, slot)) {
    env.Log(kLogXpDefineFail);
    env.CloseControl();
    return false;
  }
  if (!env.OpenVolume(letter)) {
    env.Log(kLogXpVolumeOpenFail);
    env.CloseControl();
    env.RemoveDefinition(letter);
    return false;
  }
  if (!SendLink(env, false, dev::IOCTL_CREATE_SYM_LINK, dev::CreateLinkRecord(letter, slot))) {
    env.Log(kLogXpSymLinkFail);
    env.RemoveDefinition(letter);
    env.CloseVolume();
    env.CloseControl();
    return false;
  }
  env.CloseControl();
  if (env.VolumeRequest(dev::IOCTL_FILE_DISK_OPEN_FILE, record.bytes.data(), record.passLength)) {
    env.CloseVolume();
    return true;
  }
  SendLink(env, true, dev::kIoctlRemoveLink, dev::RemoveLinkRecord(letter, SlotDigit(slot)));
  env.Log(kLogXpOpenFileFail);
  env.RemoveDefinition(letter);
  env.CloseVolume();
  return false;
}

// Picks a letter, builds the image record and attaches it; the slot gets
// the letter on success.
void MountPrepared(ServiceState& s, MountEnvironment& env, unsigned slot) {
  const store::StoredSlot& c = s.table.slots[slot];
  const char letter = PickDriveLetter(env.LogicalDrives());
  if (letter == 0) return;
  dev::OpenFileInfo record;
  if (dev::BuildOpenFileInfo(IsYes(c.readOnly), c.password, c.sizeMb, c.imageFile, record) !=
      dev::OpenFileInfoError::None)
    return;
  if (AttachImage(env, slot, letter, record)) s.driveLetter[slot] = static_cast<std::uint8_t>(letter);
}

bool Eligible(const store::StoredSlot& c, MountEnvironment& env) {
  return SlotMountable(c) && env.ImageFileUsable(c.imageFile);
}

}  // namespace

bool IsYes(const char* text) { return EqualsNoCase(text, "yes"); }

char PickDriveLetter(std::uint32_t logicalDrives) {
  int highest = -1;
  for (int bit = 0; bit < 26; ++bit)
    if (logicalDrives & (1u << bit)) highest = bit;
  if (highest == 25) return 0;
  if (highest < 0) return 'B';
  return static_cast<char>('A' + highest + 1);
}

bool SlotMountable(const store::StoredSlot& slot) {
  return IsYes(slot.valid) && slot.sizeMb > kMinMountMb;
}

void ClearUserConfig(ServiceState& s) {
  s.table = SlotTable{};
  for (auto& letter : s.driveLetter) letter = 0;
}

int LoadUserConfig(ServiceState& s, MountEnvironment& env, std::uint32_t key) {
  if (s.table.loadedUser[0] != '\0') return 0;
  ClearUserConfig(s);
  CopyBounded(s.table.loadedUser, sizeof s.table.loadedUser, dev::FormatDecimal(key).view());
  store::StoredUser user{};
  env.ReadUser(key, user);
  s.kw.delay = user.delay[0] == '\0' ? kDefaultUserDelay : ParseDecimal(user.delay);
  for (unsigned n = 0; n < store::kSlotCount; ++n) s.table.slots[n] = user.slots[n];
  return 1;
}

void MountSlot(ServiceState& s, MountEnvironment& env, unsigned slot) {
  if (slot >= store::kSlotCount || !Eligible(s.table.slots[slot], env)) return;
  MountPrepared(s, env, slot);
}

int AutoMountAll(ServiceState& s, MountEnvironment& env, std::uint32_t key) {
  if (!EqualsNoCase(dev::FormatDecimal(key).view(), s.table.loadedUser)) return -1;
  for (unsigned n = 0; n < store::kSlotCount; ++n) {
    const store::StoredSlot& c = s.table.slots[n];
    if (IsYes(c.autoMount) && Eligible(c, env)) MountPrepared(s, env, n);
  }
  return 0;
}

bool AttachImage(MountEnvironment& env, unsigned slot, char letter, const dev::OpenFileInfo& record) {
  switch (env.PlatformVersion()) {
    case kPlatform2000: return Attach2000(env, slot, letter, record);
    case kPlatformXp: return AttachXp(env, slot, letter, record);
    default: return false;  // no sequence is known for other systems
  }
}

void DismountVolume(MountEnvironment& env, char letter) {
  if (!env.OpenVolume(letter)) {
    env.Log(kLogOpenError);
    return;
  }
  if (!env.VolumeRequest(dev::kFsctlLockVolume, nullptr, 0)) env.Log(kLogLockError);
  if (!env.VolumeRequest(dev::kFsctlDismountVolume, nullptr, 0)) env.Log(kLogDismountError);
  if (!env.VolumeRequest(dev::kFsctlUnlockVolume, nullptr, 0)) env.Log(kLogUnlockError);
  env.CloseVolume();
}

int UnmountSlot(ServiceState& s, MountEnvironment& env, char letter) {
  DismountVolume(env, letter);
  if (!env.OpenControl()) return -1;
  const bool removed = SendLink(env, false, dev::kIoctlRemoveLink,
                                dev::RemoveLinkRecord(letter, dev::kRemoveLinkDismount));
  env.CloseControl();
  if (!removed) return -1;
  if (env.PlatformVersion() == kPlatformXp && letter != 0) env.RemoveDefinition(letter);
  for (auto& l : s.driveLetter)
    if (l == static_cast<std::uint8_t>(letter)) {
      l = 0;
      break;
    }
  return 0;
}

int UnmountAll(ServiceState& s, MountEnvironment& env) {
  if (!env.OpenControl()) return -1;
  for (std::uint8_t l : s.driveLetter)
    if (l != 0) DismountVolume(env, static_cast<char>(l));
  if (!env.ControlRequest(dev::kIoctlCloseAll, nullptr, 0)) {
    env.CloseControl();
    return -1;
  }
  env.CloseControl();
  if (env.PlatformVersion() == kPlatformXp)
    for (std::uint8_t l : s.driveLetter)
      if (l != 0) env.RemoveDefinition(static_cast<char>(l));
  for (auto& l : s.driveLetter) l = 0;
  s.kw.stateCode = kStateNotMounted;
  return 0;
}

}  // namespace kelm::svc
