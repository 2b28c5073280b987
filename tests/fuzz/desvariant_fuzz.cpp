// Round trip of the cipher step on arbitrary key texts and data: decrypting
// what was encrypted gives the data back, the tail stays as it was, and a
// refused key leaves everything untouched.
#include "common/desvariant.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* in, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t keyLen = in[0] % 12;
  if (size < 1 + keyLen) return 0;
  char key[13] = {};
  std::memcpy(key, in + 1, keyLen);
  const std::vector<std::uint8_t> orig(in + 1 + keyLen, in + size);
  std::vector<std::uint8_t> data = orig;

  std::uint8_t prepared[8];
  kelm::PrepareKeyBytes(key, prepared);
  const bool refused = kelm::IsRefusedKey(prepared);
  if (kelm::CipherEncrypt(key, data.data(), data.size()) == refused) std::abort();
  const std::size_t whole = data.size() / 8 * 8;
  if (refused || whole == 0) {
    if (data != orig) std::abort();
  }
  for (std::size_t i = whole; i < data.size(); ++i)
    if (data[i] != orig[i]) std::abort();
  if (kelm::CipherDecrypt(key, data.data(), data.size()) == refused) std::abort();
  if (data != orig) std::abort();

  // The block function agrees with the ECB loop.
  if (!refused && whole >= 8) {
    kelm::DesSchedule ks;
    kelm::DesVariantSchedule(prepared, ks);
    std::uint8_t b[8];
    std::memcpy(b, orig.data(), 8);
    kelm::DesVariantBlock(ks, b, true);
    std::vector<std::uint8_t> e = orig;
    kelm::DesVariantEcb(ks, e.data(), e.size(), true);
    if (std::memcmp(b, e.data(), 8) != 0) std::abort();
  }
  return 0;
}
