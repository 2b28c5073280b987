// Any bytes from the service pipe: collected into lines, parsed, and
// applied to the tray program's state; and any translated countdown line.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "cfg/logic/servicelines.h"
#include "cfg/logic/trayclient.h"
#include "cfg/logic/warning.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelm::cfg;
  LineCollector lines;
  ClientState state;
  for (std::size_t i = 0; i < size; ++i) {
    if (!lines.Add(static_cast<char>(data[i]))) continue;
    if (const auto n = ParseNotification(lines.line())) {
      const NotifyEffect e = HandleNotification(state, *n);
      if (e.loadSlots) std::strcpy(state.slots[n->value % kSlots].valid, "yes");
    }
  }
  (void)TrayMenuTop(state, size % 2 == 0, lines.line());
  const std::string format(reinterpret_cast<const char*>(data), size);
  char out[256];
  FormatCountdownLine(format.c_str(), static_cast<int>(size) - 100, out, sizeof out);
  if (std::strlen(out) >= sizeof out) __builtin_trap();
  return 0;
}
