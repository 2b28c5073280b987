#include "standin_reg.h"

#define STANDIN_TAG 0x734e4b44u /* "DKNs" */

NTSTATUS StandinParamsPath(PCUNICODE_STRING registryPath, PUNICODE_STRING out) {
  static const WCHAR suffix[] = L"\\Parameters";
  USHORT size = (USHORT)(registryPath->Length + sizeof suffix);
  out->Buffer = (PWCH)ExAllocatePoolWithTag(PagedPool, size, STANDIN_TAG);
  if (!out->Buffer) return STATUS_INSUFFICIENT_RESOURCES;
  out->Length = 0;
  out->MaximumLength = size;
  RtlCopyUnicodeString(out, registryPath);
  return RtlAppendUnicodeToString(out, suffix);
}

void StandinFreeParamsPath(PUNICODE_STRING path) {
  if (path->Buffer) ExFreePoolWithTag(path->Buffer, STANDIN_TAG);
  path->Buffer = NULL;
  path->Length = path->MaximumLength = 0;
}

/* Reads one value into buf; returns the partial information or NULL. */
static PKEY_VALUE_PARTIAL_INFORMATION ReadValue(PCUNICODE_STRING params, PCWSTR name, UCHAR* buf,
                                                ULONG size) {
  OBJECT_ATTRIBUTES oa;
  HANDLE key;
  UNICODE_STRING valueName;
  ULONG got = 0;
  NTSTATUS st;
  InitializeObjectAttributes(&oa, (PUNICODE_STRING)params, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                             NULL, NULL);
  if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &oa))) return NULL;
  RtlInitUnicodeString(&valueName, name);
  st = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, buf, size, &got);
  ZwClose(key);
  return NT_SUCCESS(st) ? (PKEY_VALUE_PARTIAL_INFORMATION)buf : NULL;
}

BOOLEAN StandinReadDword(PCUNICODE_STRING params, PCWSTR name, ULONG* value) {
  ULONGLONG storage[(sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 8 + 7) / 8];
  PKEY_VALUE_PARTIAL_INFORMATION info = ReadValue(params, name, (UCHAR*)storage, sizeof storage);
  if (!info || info->Type != REG_DWORD || info->DataLength != 4) return FALSE;
  *value = (ULONG)info->Data[0] | (ULONG)info->Data[1] << 8 | (ULONG)info->Data[2] << 16 |
           (ULONG)info->Data[3] << 24;
  return TRUE;
}

BOOLEAN StandinWriteDword(PCUNICODE_STRING params, PCWSTR name, ULONG value) {
  OBJECT_ATTRIBUTES oa;
  HANDLE key;
  UNICODE_STRING valueName;
  NTSTATUS st;
  InitializeObjectAttributes(&oa, (PUNICODE_STRING)params, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                             NULL, NULL);
  if (!NT_SUCCESS(ZwOpenKey(&key, KEY_SET_VALUE, &oa))) return FALSE;
  RtlInitUnicodeString(&valueName, name);
  st = ZwSetValueKey(key, &valueName, 0, REG_DWORD, &value, sizeof value);
  ZwClose(key);
  return NT_SUCCESS(st);
}

static WCHAR Lower(WCHAR c) { return (c >= L'A' && c <= L'Z') ? (WCHAR)(c + (L'a' - L'A')) : c; }

BOOLEAN StandinTextEquals(PCUNICODE_STRING params, PCWSTR name, const char* text) {
  ULONGLONG storage[(sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 128 + 7) / 8];
  PKEY_VALUE_PARTIAL_INFORMATION info = ReadValue(params, name, (UCHAR*)storage, sizeof storage);
  const WCHAR* w;
  ULONG n, i;
  if (!info || info->Type != REG_SZ) return FALSE;
  w = (const WCHAR*)info->Data;
  n = info->DataLength / sizeof(WCHAR);
  while (n > 0 && w[n - 1] == 0) --n;
  for (i = 0; i < n && text[i]; ++i)
    if (Lower(w[i]) != Lower((WCHAR)(unsigned char)text[i])) return FALSE;
  return i == n && text[i] == 0;
}

ULONG StandinReadRaw(PCUNICODE_STRING key, PCWSTR name, ULONG type, UCHAR* out, ULONG outSize) {
  ULONGLONG storage[(sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 640 + 7) / 8];
  PKEY_VALUE_PARTIAL_INFORMATION info = ReadValue(key, name, (UCHAR*)storage, sizeof storage);
  if (!info || info->Type != type || info->DataLength > outSize) return 0;
  RtlCopyMemory(out, info->Data, info->DataLength);
  return info->DataLength;
}
