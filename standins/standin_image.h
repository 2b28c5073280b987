/* What a virtual disk driver checks before it attaches an image file. */
#ifndef KELM_STANDIN_IMAGE_H
#define KELM_STANDIN_IMAGE_H
#include <ntddk.h>

/* The image (an NT name such as "\??\C:\x.img", ANSI, nameLen bytes)
   must exist, be openable for writing unless readOnly, be size + 3 MB
   long, and its sector 0 deciphered under password (stored plain when the
   password is empty) must be a FAT16 or FAT32 boot sector. */
NTSTATUS StandinCheckImage(const char* name, USHORT nameLen, const char* password, BOOLEAN readOnly,
                           ULONGLONG size);

/* "\DosDevices\X:" in buf. */
void StandinLinkName(char letter, WCHAR buf[16], PUNICODE_STRING us);
#endif
