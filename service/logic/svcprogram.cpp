#include "service/logic/svcprogram.h"

#include <cstdio>

#include "common/textutil.h"

namespace kelm::svc {

CommandLineAction ClassifyCommandLine(const char* firstArg) {
  if (!firstArg || (firstArg[0] != '-' && firstArg[0] != '/'))
    return CommandLineAction::RunService;
  std::string_view word(firstArg + 1);
  if (EqualsNoCase(word, "install")) return CommandLineAction::Install;
  if (EqualsNoCase(word, "remove")) return CommandLineAction::Remove;
  return CommandLineAction::Nothing;
}

const StatusRecord& StatusReporter::Prepare(std::uint32_t state, std::uint32_t exitCode,
                                            std::uint32_t waitHint) {
  record_.controlsAccepted = state == kStateStartPending ? 0 : kAcceptStop;
  record_.currentState = state;
  record_.win32ExitCode = exitCode;
  record_.waitHint = waitHint;
  if (state == kStateRunning || state == kStateStopped)
    record_.checkPoint = 0;
  else
    record_.checkPoint = nextCheckPoint_++;
  return record_;
}

char* FormatErrorText(std::string_view systemText, std::uint32_t code, char* out) {
  out[0] = '\0';
  if (systemText.empty() || systemText.size() + 14 > kErrorTextSize) return out;
  // The system texts end in CR LF; a shorter one loses what it has.
  std::string_view text = systemText.substr(0, systemText.size() >= 2 ? systemText.size() - 2 : 0);
  std::snprintf(out, kErrorTextSize, "%.*s (0x%lx)", static_cast<int>(text.size()), text.data(),
                static_cast<unsigned long>(code));
  return out;
}

}  // namespace kelm::svc
