// The tray program's side of the service pipe's text protocol: request
// lines it writes and the notification lines it reads back.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kelm::cfg {

// Request codes the tray program sends.
enum Request : std::uint32_t {
  kReqReload = 32769,
  kReqUnmountAll = 32770,
  kReqKeyTimeout = 32772,
  kReqKeyBack = 32773,
  kReqGetState = 32774,
  kReqGetKey = 32775,
  kReqCheckMount = 32776,
  kReqToggleMount = 32777,
  kReqSetUser = 34816,
};

// Notification kinds the service writes.
enum NotifyKind : std::uint8_t {
  kKindKeyLost = 1,
  kKindState = 7,
  kKindKey = 8,
  kKindDriveLetter = 9,
};

inline constexpr std::uint32_t kStateMounted = 5;
inline constexpr std::uint32_t kStateNotMounted = 3;

inline constexpr std::size_t kRequestBuffer = 1000;

// "CMD:" + body + CR in a buffer of kRequestBuffer bytes; the body is the
// code alone, "%u:%u" or "%u:%s". A body that would not fit is refused
// (length 0) rather than cut, so a half request is never written.
struct RequestLine {
  char text[kRequestBuffer];
  std::size_t length;
};
RequestLine FormatRequest(std::uint32_t code);
RequestLine FormatRequest(std::uint32_t code, std::uint32_t argument);
RequestLine FormatRequest(std::uint32_t code, std::string_view argument);

struct Notification {
  std::uint8_t kind;
  std::uint32_t value;
};

// One line without its CR. Lines of another prefix than "CMD" (any case),
// without a colon in positions 0 to 3, or longer than 1000 characters give
// nothing; so do values 0 and 4294967295, except that a drive-letter line
// of value 0 (slot 0 without a letter) is kept: dropping it would leave
// slot 0's old letter standing after the slot was dismounted.
std::optional<Notification> ParseNotification(std::string_view line);

// Collects the pipe's bytes into lines ended by CR. 999 bytes without a CR
// are dropped and collection starts again.
class LineCollector {
 public:
  static constexpr std::size_t kBuffer = 1000;
  // Adds one byte; true when it completed a line, which line() then holds
  // until the next call.
  bool Add(char byte);
  std::string_view line() const { return {buf_, lineLength_}; }

 private:
  char buf_[kBuffer] = {};
  std::size_t pos_ = 0;
  std::size_t lineLength_ = 0;
};

}  // namespace kelm::cfg
