/* Settings read from a driver's service key Parameters on every request. */
#ifndef KELM_STANDIN_REG_H
#define KELM_STANDIN_REG_H
#include <ntddk.h>

/* Builds "<registryPath>\Parameters" into out (pool memory). */
NTSTATUS StandinParamsPath(PCUNICODE_STRING registryPath, PUNICODE_STRING out);
void StandinFreeParamsPath(PUNICODE_STRING path);
/* A REG_DWORD value; FALSE when it is missing or of another type. */
BOOLEAN StandinReadDword(PCUNICODE_STRING params, PCWSTR name, ULONG* value);
/* Writes a REG_DWORD value (the key must exist); FALSE when it cannot. */
BOOLEAN StandinWriteDword(PCUNICODE_STRING params, PCWSTR name, ULONG value);
/* TRUE when the REG_SZ value equals the ASCII text (case-insensitive). */
BOOLEAN StandinTextEquals(PCUNICODE_STRING params, PCWSTR name, const char* text);
/* A value's raw data into out (at most outSize bytes); returns its
   length, 0 when it is missing, of another type or too long. */
ULONG StandinReadRaw(PCUNICODE_STRING key, PCWSTR name, ULONG type, UCHAR* out, ULONG outSize);
#endif
