// The suite's 64-bit block cipher (a DES variant) and the cipher step built
// on it. Pure logic; every record layout is explicit little-endian.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kelm {

// A prepared key schedule: 16 rounds of two 32-bit subkey words.
struct DesSchedule {
  std::uint32_t k[32];
};

// Key preparation of the cipher step: the first 8 characters of keyText,
// zero-padded to 8, each byte b replaced by the parity rule's T[b].
void PrepareKeyBytes(const char* keyText, std::uint8_t out[8]);

// True when the 8 prepared key bytes equal one of the 16 refused values.
bool IsRefusedKey(const std::uint8_t key[8]);

// Builds the schedule from 8 key bytes used as they are (no parity rule,
// no refusal check).
void DesVariantSchedule(const std::uint8_t key[8], DesSchedule& ks);

// One block in place (8 bytes, little-endian words), encrypt or decrypt.
void DesVariantBlock(const DesSchedule& ks, std::uint8_t block[8], bool encrypt);

// ECB over every whole 8-byte block of data; a shorter tail is left as it is.
void DesVariantEcb(const DesSchedule& ks, std::uint8_t* data, std::size_t len, bool encrypt);

// The same construction with its rotations turned right, which is standard
// DES; it exists so that the shared tables can be checked against standard
// DES test vectors.
void StandardDesSchedule(const std::uint8_t key[8], DesSchedule& ks);
void StandardDesBlock(const DesSchedule& ks, std::uint8_t block[8], bool encrypt);

// The cipher step: prepares keyText, refuses the 16 values (data untouched,
// result false), else enciphers/deciphers the whole blocks in place.
bool CipherEncrypt(const char* keyText, std::uint8_t* data, std::size_t len);
bool CipherDecrypt(const char* keyText, std::uint8_t* data, std::size_t len);

// Prepares the schedule of keyText for repeated use (sector cipher); false
// when the key is refused.
bool CipherSchedule(const char* keyText, DesSchedule& ks);

}  // namespace kelm
