/* The suite's sector cipher, callable from the C drivers. */
#ifndef KELM_STANDIN_CIPHER_H
#define KELM_STANDIN_CIPHER_H
#ifdef __cplusplus
extern "C" {
#endif
/* Deciphers the whole 8-byte blocks of data in place under keyText; data
   stays as it is when the key is refused. */
void StandinDecipher(const char* keyText, unsigned char* data, unsigned long len);
#ifdef __cplusplus
}
#endif
#endif
