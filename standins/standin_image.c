#include "standin_image.h"

#include "standin_cipher.h"

#define IMAGE_TAG 0x6d494b44u /* "DKIm" */
#define MB 1048576ull

void StandinLinkName(char letter, WCHAR buf[16], PUNICODE_STRING us) {
  static const WCHAR text[] = L"\\DosDevices\\X:";
  RtlCopyMemory(buf, text, sizeof text);
  buf[12] = (WCHAR)letter;
  RtlInitUnicodeString(us, buf);
}

static BOOLEAN IsFatBootSector(const UCHAR* s) {
  static const char fat16[] = "FAT16   ";
  static const char fat32[] = "FAT32   ";
  if (s[510] != 0x55 || s[511] != 0xAA) return FALSE;
  if (s[0] != 0xEB && s[0] != 0xE9) return FALSE;
  if ((s[11] | s[12] << 8) != 512) return FALSE;
  return RtlCompareMemory(s + 54, fat16, 8) == 8 || RtlCompareMemory(s + 82, fat32, 8) == 8;
}

/* The image must exist, be size + 3 MB long, and its sector 0 deciphered
   under the password must be a FAT boot sector. */
NTSTATUS StandinCheckImage(const char* name, USHORT nameLen, const char* password, BOOLEAN readOnly,
                           ULONGLONG size) {
  ANSI_STRING a;
  UNICODE_STRING u;
  OBJECT_ATTRIBUTES oa;
  IO_STATUS_BLOCK iosb;
  FILE_STANDARD_INFORMATION info;
  LARGE_INTEGER offset;
  HANDLE h;
  UCHAR* sector;
  NTSTATUS st;
  a.Buffer = (PCHAR)name;
  a.Length = a.MaximumLength = nameLen;
  st = RtlAnsiStringToUnicodeString(&u, &a, TRUE);
  if (!NT_SUCCESS(st)) return st;
  InitializeObjectAttributes(&oa, &u, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
  st = ZwCreateFile(&h, (readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE) | SYNCHRONIZE, &oa,
                    &iosb, NULL, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                    FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0);
  RtlFreeUnicodeString(&u);
  if (!NT_SUCCESS(st)) return st;
  st = ZwQueryInformationFile(h, &iosb, &info, sizeof info, FileStandardInformation);
  if (NT_SUCCESS(st) && (ULONGLONG)info.EndOfFile.QuadPart != size + 3 * MB)
    st = STATUS_INVALID_PARAMETER;
  sector = NULL;
  if (NT_SUCCESS(st)) {
    sector = (UCHAR*)ExAllocatePoolWithTag(PagedPool, 512, IMAGE_TAG);
    if (!sector) st = STATUS_INSUFFICIENT_RESOURCES;
  }
  if (NT_SUCCESS(st)) {
    offset.QuadPart = 0;
    st = ZwReadFile(h, NULL, NULL, NULL, &iosb, sector, 512, &offset, NULL);
    if (NT_SUCCESS(st) && iosb.Information != 512) st = STATUS_DISK_CORRUPT_ERROR;
  }
  ZwClose(h);
  if (NT_SUCCESS(st)) {
    if (password[0]) StandinDecipher(password, sector, 512);
    if (!IsFatBootSector(sector)) st = STATUS_WRONG_PASSWORD;
  }
  if (sector) ExFreePoolWithTag(sector, IMAGE_TAG);
  return st;
}

