// The service state shared by the pipe thread and the service thread, and
// the operations the commands call. The disk work itself (loading a user,
// attaching images, the file-monitor driver) and the key watch come with
// the mount and key-watch work; until then nothing can be mounted, so the
// operations report "nothing loaded" and "could not dismount".
#include <cstdio>

#include "service/kelmsvc.h"

namespace kelm::svc {

namespace {

class ServiceOps final : public ServiceOperations {
 public:
  explicit ServiceOps(ServiceState& s) : s_(s) {}
  void Beep(unsigned frequency, unsigned milliseconds) override {
    ::Beep(frequency, milliseconds);
  }
  int UnmountAll() override { return -1; }
  int LoadUserConfig(std::uint32_t) override { return 0; }
  void ClearUserConfig() override {
    for (auto& letter : s_.driveLetter) letter = 0;
  }
  void SetMonitorUser(std::uint32_t user) override {
    char text[16];
    std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(user));
    WriteProfileStringA("kelmkey", "keyid", text);
  }
  int AutoMountAll(std::uint32_t) override { return -1; }
  void MountSlot(unsigned) override {}
  int UnmountSlot(std::uint8_t) override { return -1; }
  bool ReloadUserIds() override { return false; }
  bool SendAnswer(std::uint32_t value, std::uint8_t code) override {
    return svc::SendAnswer(value, code);
  }
  void Log(std::string_view message) override { LogLine(message); }

 private:
  ServiceState& s_;
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
  // The receiver reading and its key events are added with the key watch;
  // a KEYLOST notice then goes out through SendAnswer(key, kAnsKeyLost).
}

void FinalDismount() {
  LockGuard guard(CommandLock());
  EndUserDisks(State(), Operations());
}

}  // namespace kelm::svc
