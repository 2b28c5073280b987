// The store's readers take registry values of any content and length.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "common/storefields.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[size ? size : 1]);
  if (size) std::memcpy(copy.get(), data, size);
  char pass[kelm::store::kSlotPassField];
  kelm::store::DecodeSlotPassword(copy.get(), size, pass);
  if (std::strlen(pass) >= sizeof pass) __builtin_trap();
  char login[30];
  kelm::store::DecodeLoginPassword(copy.get(), size, login, sizeof login);
  if (std::strlen(login) >= sizeof login) __builtin_trap();
  const std::string_view text(reinterpret_cast<const char*>(copy.get()), size);
  const std::string_view name = kelm::store::ImageFileName(text);
  if (name.data() < text.data() || name.data() + name.size() > text.data() + text.size()) __builtin_trap();
  kelm::store::InstallTypeFromText(text);
  kelm::store::DelaySeconds(text);
  // Whatever the encoder accepts reads back as it was.
  std::uint8_t field[kelm::store::kSlotPassField];
  const std::string_view pw = text.substr(0, text.find('\0'));
  if (kelm::store::EncodeSlotPassword(pw, field)) {
    kelm::store::DecodeSlotPassword(field, sizeof field, pass);
    if (pw != pass) __builtin_trap();
  }
  return 0;
}
