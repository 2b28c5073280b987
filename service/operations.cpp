// The service state shared by the pipe thread and the service thread, and
// the Win32 side of the operations the commands and the key watch call.
#include <cstdio>

#include "common/devices.h"
#include "common/win32/diskstore.h"
#include "common/win32/filemon.h"
#include "common/win32/platform.h"
#include "common/win32/receiver.h"
#include "common/win32/vdisk.h"
#include "service/kelmsvc.h"
#include "service/logic/keywatch.h"

namespace kelm::svc {

namespace {

// The devices, drive letters and store as the attach and dismount steps
// see them. Every handle is closed by the step that opened it.
class Win32MountEnvironment final : public MountEnvironment {
 public:
  int PlatformVersion() override {
    if (platform_ == -1) platform_ = win::ServicePlatformVersion();
    return platform_;
  }
  std::uint32_t LogicalDrives() override { return GetLogicalDrives(); }
  bool ImageFileUsable(const char* path) override {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && attributes != FILE_ATTRIBUTE_DIRECTORY;
  }
  bool ReadUser(std::uint32_t userId, store::StoredUser& out) override {
    return win::ReadUserConfig(userId, out, true);
  }
  bool OpenControl() override {
    control_ = win::OpenControlDevice();
    return static_cast<bool>(control_);
  }
  void CloseControl() override { control_.reset(); }
  bool OpenVolume(char letter) override {
    volume_ = win::OpenVolume(letter);
    return static_cast<bool>(volume_);
  }
  void CloseVolume() override { volume_.reset(); }
  bool ControlRequest(std::uint32_t code, const std::uint8_t* in, std::uint32_t len) override {
    return win::SendRequest(control_.get(), code, in, len);
  }
  bool VolumeRequest(std::uint32_t code, const std::uint8_t* in, std::uint32_t len) override {
    return win::SendRequest(volume_.get(), code, in, len);
  }
  bool LetterDefined(char letter) override {
    char target[200];
    const char drive[] = {letter, ':', '\0'};
    return QueryDosDeviceA(drive, target, sizeof target) != 0;
  }
  bool DefineLetter(char letter, unsigned slot) override {
    char target[32];
    std::snprintf(target, sizeof target, "\\Device\\kelm\\Kelm%u", slot);
    const char drive[] = {letter, ':', '\0'};
    return DefineDosDeviceA(DDD_RAW_TARGET_PATH, drive, target) != FALSE;
  }
  void RemoveDefinition(char letter) override {
    const char drive[] = {letter, ':', '\0'};
    DefineDosDeviceA(DDD_REMOVE_DEFINITION, drive, nullptr);
  }
  void Log(std::string_view message) override { LogLine(message); }

 private:
  int platform_ = -1;
  win::UniqueHandle control_;
  win::UniqueHandle volume_;
};

class ServiceOps final : public ServiceOperations {
 public:
  explicit ServiceOps(ServiceState& s) : s_(s) {}
  void Beep(unsigned frequency, unsigned milliseconds) override { ::Beep(frequency, milliseconds); }
  int UnmountAll() override { return svc::UnmountAll(s_, env_); }
  int LoadUserConfig(std::uint32_t key) override { return svc::LoadUserConfig(s_, env_, key); }
  void ClearUserConfig() override { svc::ClearUserConfig(s_); }
  void SetMonitorUser(std::uint32_t user) override {
    // The command lock is held here: the warning must not wait for an answer.
    win::SendMonitorUser(win::MonitorDevice::Nt, user, win::MonitorFailureBox::NoWait);
    // The shell extension reads the current user from here.
    WriteProfileStringA("kelmkey", "keyid", dev::FormatDecimal(user).text);
  }
  int AutoMountAll(std::uint32_t key) override { return svc::AutoMountAll(s_, env_, key); }
  void MountSlot(unsigned slot) override { svc::MountSlot(s_, env_, slot); }
  int UnmountSlot(std::uint8_t letter) override {
    return svc::UnmountSlot(s_, env_, static_cast<char>(letter));
  }
  bool ReloadUserIds() override {
    std::uint32_t ids[store::kMaxUsers] = {};
    const int count = win::ReadUserIds(ids, store::kMaxUsers);
    SetUserIds(s_, ids, count);
    return true;
  }
  bool ReadKeyCode(std::uint32_t& key) override { return receiver_.Read(key); }
  void CloseReceiverHandle() override { receiver_.CloseHandle(); }
  bool SendAnswer(std::uint32_t value, std::uint8_t code) override {
    return svc::SendAnswer(value, code);
  }
  void Log(std::string_view message) override { LogLine(message); }

 private:
  ServiceState& s_;
  Win32MountEnvironment env_;
  win::KeyWatchReceiver receiver_;
};

}  // namespace

Lock& CommandLock() {
  static Lock lock;
  return lock;
}

ServiceState& State() {
  static ServiceState state;
  return state;
}

ServiceOperations& Operations() {
  static ServiceOps ops(State());
  return ops;
}

void RunPipeRequest(std::string_view text) {
  LockGuard guard(CommandLock());
  HandleRequestText(State(), Operations(), text);
}

void KeyWatchStep() {
  LockGuard guard(CommandLock());
  svc::KeyWatchStep(State(), Operations());
}

void FinalDismount() {
  LockGuard guard(CommandLock());
  svc::FinalDismount(State(), Operations());
}

}  // namespace kelm::svc
