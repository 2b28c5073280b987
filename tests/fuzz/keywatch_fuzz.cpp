// Any interleaving of receiver readings, pipe commands, clients coming and
// going and dismounts that fail: the key watch's counters never pass the
// delay, the state code is 3 or 5, and the disks are never marked mounted
// without a loaded user.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/protocol.h"
#include "service/logic/dispatch.h"
#include "service/logic/keywatch.h"

namespace {

namespace svc = kelm::svc;

struct FuzzOps : svc::ServiceOperations {
  svc::ServiceState& s;
  bool readOk = true, sendOk = false;
  int unmountResult = 0;
  std::uint32_t reading = 0, userDelay = 2;
  explicit FuzzOps(svc::ServiceState& st) : s(st) {}
  void Beep(unsigned, unsigned) override {}
  int UnmountAll() override {
    if (unmountResult != 0) return unmountResult;
    for (auto& l : s.driveLetter) l = 0;
    s.kw.stateCode = kelm::kStateNotMounted;
    return 0;
  }
  int LoadUserConfig(std::uint32_t k) override {
    if (s.table.loadedUser[0]) return 0;
    std::snprintf(s.table.loadedUser, sizeof s.table.loadedUser, "%lu", static_cast<unsigned long>(k));
    s.kw.delay = userDelay;
    return 1;
  }
  void ClearUserConfig() override { svc::ClearUserConfig(s); }
  void SetMonitorUser(std::uint32_t) override {}
  int AutoMountAll(std::uint32_t k) override {
    char text[16];
    std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(k));
    if (std::strcmp(text, s.table.loadedUser) != 0) return -1;
    s.driveLetter[0] = 'D';
    return 0;
  }
  void MountSlot(unsigned n) override {
    if (s.table.loadedUser[0] && n < 4) s.driveLetter[n] = static_cast<std::uint8_t>('E' + n);
  }
  int UnmountSlot(std::uint8_t) override { return unmountResult; }
  bool ReloadUserIds() override { return true; }
  bool ReadKeyCode(std::uint32_t& key) override {
    key = reading;
    return readOk;
  }
  void CloseReceiverHandle() override {}
  bool SendAnswer(std::uint32_t, std::uint8_t) override { return sendOk; }
  void Log(std::string_view) override {}
};

const std::uint32_t kCommands[] = {kelm::kCmdReload,    kelm::kCmdUnmountAll, kelm::kCmdReceiverBack,
                                   kelm::kCmdKeyTimeout, kelm::kCmdKeyBack,    kelm::kCmdGetState,
                                   kelm::kCmdGetKey,     kelm::kCmdCheckMount, kelm::kCmdToggleMount,
                                   kelm::kCmdSetUser};
const std::uint32_t kKeys[] = {0, 1234, 5678, 999, kelm::kNoReading};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  svc::ServiceState s;
  s.kw.mode = data[0] & 1 ? svc::ServiceMode::Software : svc::ServiceMode::RfKey;
  const std::uint32_t ids[] = {1234, 5678};
  svc::SetUserIds(s, ids, 2);
  FuzzOps ops(s);
  ops.userDelay = data[0] >> 4;
  for (std::size_t i = 1; i + 1 < size; i += 2) {
    const std::uint8_t op = data[i], arg = data[i + 1];
    switch (op % 6) {
      case 0:  // one step with a reading
        ops.reading = kKeys[arg % 5];
        ops.readOk = (arg & 0x80) == 0;
        svc::KeyWatchStep(s, ops);
        break;
      case 1: {  // a pipe command
        kelm::Request r;
        r.isCmd = true;
        r.code = kCommands[arg % 10];
        r.arg = r.code == kelm::kCmdSetUser ? kKeys[(arg >> 4) % 5] : (arg >> 4);
        svc::RunRequest(s, ops, r);
        break;
      }
      case 2: ops.sendOk = arg & 1; break;
      case 3: ops.unmountResult = arg & 1 ? -1 : 0; break;
      case 4: svc::FinalDismount(s, ops); break;
      default: svc::KeyWatchStep(s, ops); break;
    }
    const auto& kw = s.kw;
    if (kw.absentCount > kw.delay || kw.changeCount > kw.delay) __builtin_trap();
    if (kw.stateCode != kelm::kStateMounted && kw.stateCode != kelm::kStateNotMounted) __builtin_trap();
    if (kw.mounted && s.table.loadedUser[0] == '\0') __builtin_trap();
  }
  return 0;
}
