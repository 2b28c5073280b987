// Bridges the C drivers to the suite's cipher, compiled freestanding.
#include "standin_cipher.h"

#include "common/desvariant.h"

extern "C" void StandinDecipher(const char* keyText, unsigned char* data, unsigned long len) {
  kelm::CipherDecrypt(keyText, data, len);
}
