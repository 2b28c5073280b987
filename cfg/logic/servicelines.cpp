#include "cfg/logic/servicelines.h"

#include <cstdio>
#include <cstring>

#include "common/textutil.h"

namespace kelm::cfg {

RequestLine FormatRequest(std::uint32_t code) {
  RequestLine r{};
  const int n = std::snprintf(r.text, sizeof r.text, "CMD:%u\r", static_cast<unsigned>(code));
  r.length = n > 0 ? static_cast<std::size_t>(n) : 0;
  return r;
}

RequestLine FormatRequest(std::uint32_t code, std::uint32_t argument) {
  RequestLine r{};
  const int n = std::snprintf(r.text, sizeof r.text, "CMD:%u:%u\r", static_cast<unsigned>(code),
                              static_cast<unsigned>(argument));
  r.length = n > 0 ? static_cast<std::size_t>(n) : 0;
  return r;
}

RequestLine FormatRequest(std::uint32_t code, std::string_view argument) {
  RequestLine r{};
  char head[32];
  const int h = std::snprintf(head, sizeof head, "CMD:%u:", static_cast<unsigned>(code));
  const std::size_t total = static_cast<std::size_t>(h) + argument.size() + 1;
  if (h <= 0 || total + 1 > sizeof r.text) return RequestLine{};
  std::memcpy(r.text, head, static_cast<std::size_t>(h));
  std::memcpy(r.text + h, argument.data(), argument.size());
  r.text[total - 1] = '\r';
  r.text[total] = '\0';
  r.length = total;
  return r;
}

std::optional<Notification> ParseNotification(std::string_view line) {
  if (line.size() > 1000) return std::nullopt;
  const std::size_t colon = line.substr(0, 4).find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  if (!EqualsNoCase(line.substr(0, colon), "CMD")) return std::nullopt;
  const std::string_view rest = line.substr(colon + 1);
  const std::size_t split = rest.find(':');
  const std::string_view valueField = split == std::string_view::npos ? rest : rest.substr(0, split);
  const std::string_view kindField = split == std::string_view::npos ? rest : rest.substr(split + 1);
  const Notification n{static_cast<std::uint8_t>(ParseDecimal(kindField) & 0xFF), ParseDecimal(valueField)};
  if (n.value == 0xFFFFFFFFu) return std::nullopt;
  if (n.value == 0 && n.kind != kKindDriveLetter) return std::nullopt;
  return n;
}

bool LineCollector::Add(char byte) {
  if (byte == '\r') {
    lineLength_ = pos_;
    buf_[pos_] = '\0';
    pos_ = 0;
    return true;
  }
  buf_[pos_++] = byte;
  if (pos_ >= kBuffer - 1) pos_ = 0;  // 999 bytes without an end
  return false;
}

}  // namespace kelm::cfg
