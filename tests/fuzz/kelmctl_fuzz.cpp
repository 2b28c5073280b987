// Any interleaving of seconds, receiver readings, WM_APP commands, refusing
// driver requests and commands or seconds inside a message box's own loop:
// KelmCtl never shows a second box while one is up, its counters never pass
// the delay, the state code is 3 or 5, and every drive letter it keeps is
// the one the driver gave the slot.
#include <cstddef>
#include <cstdint>

#include "tests/native/ctl98_fake.h"

namespace {

const std::uint32_t kCommands[] = {kelm::kCmdReload,    kelm::kCmdUnmountAll, kelm::kCmdReceiverBack,
                                   kelm::kCmdKeyTimeout, kelm::kCmdKeyBack,    kelm::kCmdGetState,
                                   kelm::kCmdGetKey,     kelm::kCmdCheckMount, kelm::kCmdToggleMount,
                                   kelm::kCmdSetUser};
const std::uint32_t kKeys[] = {0, 1234, 5678, 999, kelm::kNoReading};
const char* const kRequests[] = {"check", "set-user", "mount", "letter", "dismount", "dismount-all"};

void Command(ctltest::Program& p, std::uint8_t arg) {
  const std::uint32_t code = kCommands[arg % 10];
  std::uintptr_t wParam = code == kelm::kCmdSetUser ? kKeys[(arg >> 4) % 4] : (arg >> 4) % 6;
  if (arg & 0x80) wParam += 0x10000;
  p.Command(code, wParam);
}

void Check(const ctltest::Program& p) {
  const auto& s = p.s;
  if (s.absentCount > s.delay || s.changeCount > s.delay) __builtin_trap();
  if (s.stateCode != kelm::kStateMounted && s.stateCode != kelm::kStateNotMounted) __builtin_trap();
  if (p.ops.mostBoxes > 1 || p.ops.badRecord) __builtin_trap();
  for (int n = 0; n < 4; ++n) {
    const std::uint8_t l = s.table.letters[n];
    if (l != 0 && l != static_cast<std::uint8_t>(p.ops.attached[n])) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 512) return 0;
  ctltest::Program p;
  p.ops.AddUser(1234, "vvvn", "aana", "2");
  p.ops.AddUser(5678, "vnnn", "annn", "1");
  p.ops.installType = data[0] & 1 ? kelm::store::kInstallSoftware : kelm::store::kInstallRfKey;
  p.Boot();
  for (std::size_t i = 1; i + 1 < size; i += 2) {
    const std::uint8_t op = data[i], arg = data[i + 1];
    switch (op % 7) {
      case 0:
        p.ops.heard = kKeys[arg % 5];
        p.Seconds(1 + (arg >> 6));
        break;
      case 1:
        Command(p, arg);
        break;
      case 2: {
        const char* name = kRequests[arg % 6];
        if (arg & 0x80)
          p.ops.failing.erase(name);
        else
          p.ops.failing.insert(name);
        break;
      }
      case 3:
        p.ops.receiverPresent = arg & 1;
        p.ops.readFails = arg & 2;
        break;
      case 4:
        p.ops.trayWindow = arg & 1;
        p.ops.trayAnswer = arg & 2;
        break;
      case 5:
        // What runs inside the next box's own message loop.
        p.ops.whileBoxShown = [&p, arg] {
          p.Seconds(arg % 4);
          Command(p, static_cast<std::uint8_t>(arg >> 2));
          Check(p);
        };
        break;
      default:
        kelm::ctl::End(p.s, p.ops);
        break;
    }
    Check(p);
    if (p.s.boxShown || p.s.stepRunning || p.ops.boxesOnScreen != 0) __builtin_trap();
  }
  return 0;
}
