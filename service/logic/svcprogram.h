// The service program's pure rules: command line, status reports, error text.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kelm::svc {

inline constexpr char kServiceName[] = "KelmSvr";
inline constexpr char kDisplayName[] = "Virtual Disk Service";

enum class CommandLineAction { RunService, Install, Remove, Nothing };

// Only the first argument counts (nullptr when there is none): "-" or "/"
// followed by "install" or "remove" in any case; any other switch does
// nothing; a plain word or no argument runs the service.
CommandLineAction ClassifyCommandLine(const char* firstArg);

// Service states and controls, with the values of the service manager.
inline constexpr std::uint32_t kStateStopped = 1;
inline constexpr std::uint32_t kStateStartPending = 2;
inline constexpr std::uint32_t kStateStopPending = 3;
inline constexpr std::uint32_t kStateRunning = 4;
inline constexpr std::uint32_t kAcceptStop = 1;
inline constexpr std::uint32_t kOwnProcess = 0x10;

// The one status record kept between reports.
struct StatusRecord {
  std::uint32_t serviceType = kOwnProcess;
  std::uint32_t currentState = 0;
  std::uint32_t controlsAccepted = 0;
  std::uint32_t win32ExitCode = 0;
  std::uint32_t serviceExitCode = 0;
  std::uint32_t checkPoint = 0;
  std::uint32_t waitHint = 0;
};

// Fills the record for one report: no controls while start-pending, else
// stop only; check point 0 when running or stopped, otherwise the counter's
// value (the counter starts at 1 and grows with each such report).
class StatusReporter {
 public:
  const StatusRecord& Prepare(std::uint32_t state, std::uint32_t exitCode,
                              std::uint32_t waitHint);
  const StatusRecord& record() const { return record_; }

 private:
  StatusRecord record_;
  std::uint32_t nextCheckPoint_ = 1;
};

// The error text buffer holds 256 characters.
inline constexpr std::size_t kErrorTextSize = 256;

// "<text without its final CR LF> (0x<code>)" into out (kErrorTextSize
// bytes); empty when there is no text or its length plus 14 exceeds the
// buffer. Returns out.
char* FormatErrorText(std::string_view systemText, std::uint32_t code, char* out);

}  // namespace kelm::svc
