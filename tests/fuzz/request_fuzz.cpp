// Any pipe message: the request text, its parse and the command it runs
// must stay within bounds, and answers must always format.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/protocol.h"
#include "service/logic/dispatch.h"
#include "service/logic/svclog.h"

namespace {
struct NullOps : kelm::svc::ServiceOperations {
  kelm::svc::ServiceState& s;
  explicit NullOps(kelm::svc::ServiceState& st) : s(st) {}
  void Beep(unsigned, unsigned) override {}
  int UnmountAll() override { return 0; }
  int LoadUserConfig(std::uint32_t) override { return 1; }
  void ClearUserConfig() override {}
  void SetMonitorUser(std::uint32_t) override {}
  int AutoMountAll(std::uint32_t) override { return 0; }
  void MountSlot(unsigned n) override { s.driveLetter[n] = 'F'; }
  int UnmountSlot(std::uint8_t) override { return 0; }
  bool ReloadUserIds() override { return true; }
  bool ReadKeyCode(std::uint32_t&) override { return false; }
  void CloseReceiverHandle() override {}
  bool SendAnswer(std::uint32_t v, std::uint8_t c) override {
    char buf[kelm::kMaxMessageChars];
    return kelm::FormatAnswer(v, c, buf, sizeof buf) != 0;
  }
  void Log(std::string_view m) override {
    char buf[kelm::svc::kLogEntryMaxBytes];
    kelm::svc::FormatLogEntry({2004, 3, 5, 9, 7, 3}, m, buf);
  }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kelm::kMaxRequestBytes) return 0;  // refused before parsing
  char message[kelm::kPipeBufferSize];
  std::memcpy(message, data, size);
  std::string_view text = kelm::RequestText(message, size);
  kelm::svc::ServiceState state;
  state.kw.mode = size % 2 ? kelm::svc::ServiceMode::Software : kelm::svc::ServiceMode::RfKey;
  NullOps ops(state);
  kelm::svc::HandleRequestText(state, ops, text);
  kelm::Request r = kelm::ParseRequest(text);
  if (!r.isCmd && (r.code != 0 || r.arg != 0)) __builtin_trap();
  return 0;
}
