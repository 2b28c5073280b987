/* Stand-in for the virtual disk driver, Windows 98 form: device
   \Device\kelm (\DosDevices\kelm) with METHOD_NEITHER requests. A mount
   names only the slot and the user: the driver takes the slot's image,
   size, read-only setting and password from the disk configuration store
   (HKLM "SOFTWARE\kelm\<UserId>"), checks the image like the Windows
   2000/XP form and links the next drive letter to one of its disk
   devices \Device\kelm98disk0..3. */
#include <ntddk.h>

#include "standin_cipher.h"
#include "standin_dev.h"
#include "standin_image.h"
#include "standin_protocol.h"
#include "standin_reg.h"

#define K98_CHECK 0x22001fu
#define K98_SET_USER 0x220013u
#define K98_MOUNT 0x220007u
#define K98_LETTER 0x22001bu
#define K98_DISMOUNT 0x22000bu
#define K98_DISMOUNT_ALL 0x220017u

#define USER_TEXT_OFFSET 10
#define REQUEST_LEN 100
#define IMAGE_PATH_MAX 259

typedef struct {
  char letter;
  BOOLEAN readOnly;
  ULONGLONG size;
  char name[KELM_NAME_MAX + 1];
} SLOT;

static SLOT g_slots[KELM_SLOTS];
static BOOLEAN g_hasUser;
static ULONG g_user;
static char g_userText[REQUEST_LEN - USER_TEXT_OFFSET];
static FAST_MUTEX g_lock;
static UNICODE_STRING g_params;
static PDEVICE_OBJECT g_control;
static PDEVICE_OBJECT g_disks[KELM_SLOTS];

static BOOLEAN Injected(const char* request) {
  return StandinTextEquals(&g_params, L"" KELM_DISK_FAIL_VALUE, request);
}

static ULONG Load32(const UCHAR* p) {
  return (ULONG)p[0] | (ULONG)p[1] << 8 | (ULONG)p[2] << 16 | (ULONG)p[3] << 24;
}

static void DiskName(int slot, WCHAR buf[24], PUNICODE_STRING us) {
  static const WCHAR text[] = L"\\Device\\kelm98disk0";
  RtlCopyMemory(buf, text, sizeof text);
  buf[18] = (WCHAR)(L'0' + slot);
  RtlInitUnicodeString(us, buf);
}

/* A value name with the slot digit appended, e.g. "ImageFile2". */
static PCWSTR SlotValue(PCWSTR base, int slot, WCHAR buf[32]) {
  int i = 0;
  while (base[i] && i < 30) {
    buf[i] = base[i];
    ++i;
  }
  buf[i++] = (WCHAR)(L'0' + slot);
  buf[i] = 0;
  return buf;
}

static BOOLEAN LinkExists(char letter) {
  WCHAR buf[16];
  UNICODE_STRING link;
  OBJECT_ATTRIBUTES oa;
  HANDLE h;
  StandinLinkName(letter, buf, &link);
  InitializeObjectAttributes(&oa, &link, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
  if (!NT_SUCCESS(ZwOpenSymbolicLinkObject(&h, GENERIC_READ, &oa))) return FALSE;
  ZwClose(h);
  return TRUE;
}

/* The letter after the highest one in use; 0 when Z: is in use. */
static char NextLetter(void) {
  char c;
  for (c = 'Z'; c >= 'A'; --c)
    if (LinkExists(c)) return c == 'Z' ? 0 : (char)(c + 1);
  return 'C';
}

/* The slot's settings from the disk configuration store. */
static NTSTATUS ReadSlot(int slot, char* name, USHORT* nameLen, char password[20], BOOLEAN* readOnly,
                         ULONGLONG* size) {
  static const WCHAR prefix[] = L"\\Registry\\Machine\\SOFTWARE\\kelm\\";
  WCHAR keyBuf[sizeof prefix / sizeof(WCHAR) + sizeof g_userText], valueBuf[32];
  WCHAR pathBuf[IMAGE_PATH_MAX + 1];
  UCHAR pass[20];
  UNICODE_STRING key, path;
  ANSI_STRING a;
  ULONG i, n, len, mb = 0;
  RtlZeroMemory(keyBuf, sizeof keyBuf);
  RtlCopyMemory(keyBuf, prefix, sizeof prefix);
  n = sizeof prefix / sizeof(WCHAR) - 1;
  for (i = 0; g_userText[i]; ++i) keyBuf[n + i] = (WCHAR)(UCHAR)g_userText[i];
  RtlInitUnicodeString(&key, keyBuf);

  RtlZeroMemory(pathBuf, sizeof pathBuf);
  len = StandinReadRaw(&key, SlotValue(L"ImageFile", slot, valueBuf), REG_SZ, (UCHAR*)pathBuf,
                       sizeof pathBuf - sizeof(WCHAR));
  if (len < 2 * sizeof(WCHAR)) return STATUS_OBJECT_NAME_NOT_FOUND;
  RtlInitUnicodeString(&path, pathBuf);
  if (!NT_SUCCESS(RtlUnicodeStringToAnsiString(&a, &path, TRUE))) return STATUS_INVALID_PARAMETER;
  if (a.Length + 4 > KELM_NAME_MAX) {
    RtlFreeAnsiString(&a);
    return STATUS_NAME_TOO_LONG;
  }
  RtlCopyMemory(name, "\\??\\", 4);
  RtlCopyMemory(name + 4, a.Buffer, a.Length);
  *nameLen = (USHORT)(a.Length + 4);
  name[*nameLen] = 0;
  RtlFreeAnsiString(&a);

  if (StandinReadRaw(&key, SlotValue(L"ImageFileSize", slot, valueBuf), REG_DWORD, (UCHAR*)&mb, 4) != 4)
    return STATUS_INVALID_PARAMETER;
  *size = (ULONGLONG)mb * 1048576ull;
  *readOnly = StandinTextEquals(&key, SlotValue(L"ReadOnly", slot, valueBuf), "yes");

  /* The stored password: two blocks under "QUENTOR", text up to the first
     zero; empty when missing or its first 8 bytes are zero. */
  RtlZeroMemory(password, 20);
  RtlZeroMemory(pass, sizeof pass);
  len = StandinReadRaw(&key, SlotValue(L"pass", slot, valueBuf), REG_BINARY, pass, sizeof pass);
  if (len > 0) {
    BOOLEAN zero = TRUE;
    for (i = 0; i < 8; ++i)
      if (pass[i]) zero = FALSE;
    if (!zero) {
      StandinDecipher("QUENTOR", pass, 16);
      for (i = 0; i < 9 && pass[i]; ++i) password[i] = (char)pass[i];
    }
  }
  RtlSecureZeroMemory(pass, sizeof pass);
  return STATUS_SUCCESS;
}

static void ReleaseSlot(SLOT* s) {
  if (s->letter) {
    WCHAR buf[16];
    UNICODE_STRING link;
    StandinLinkName(s->letter, buf, &link);
    IoDeleteSymbolicLink(&link);
  }
  RtlZeroMemory(s, sizeof *s);
}

static NTSTATUS Mount(int slot) {
  SLOT s;
  char password[20];
  USHORT nameLen = 0;
  WCHAR linkBuf[16], diskBuf[24];
  UNICODE_STRING link, disk;
  NTSTATUS st;
  RtlZeroMemory(&s, sizeof s);
  st = ReadSlot(slot, s.name, &nameLen, password, &s.readOnly, &s.size);
  if (NT_SUCCESS(st)) st = StandinCheckImage(s.name, nameLen, password, s.readOnly, s.size);
  RtlSecureZeroMemory(password, sizeof password);
  if (!NT_SUCCESS(st)) return st;
  ExAcquireFastMutex(&g_lock);
  if (g_slots[slot].letter) {
    st = STATUS_DEVICE_BUSY;
  } else if (!(s.letter = NextLetter())) {
    st = STATUS_TOO_MANY_NAMES;
  } else {
    StandinLinkName(s.letter, linkBuf, &link);
    DiskName(slot, diskBuf, &disk);
    st = IoCreateSymbolicLink(&link, &disk);
    if (NT_SUCCESS(st)) g_slots[slot] = s;
  }
  ExReleaseFastMutex(&g_lock);
  return st;
}

static NTSTATUS Control(PIO_STACK_LOCATION sp, PIRP irp) {
  ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
  ULONG inLen = sp->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outLen = sp->Parameters.DeviceIoControl.OutputBufferLength;
  const UCHAR* in = (const UCHAR*)sp->Parameters.DeviceIoControl.Type3InputBuffer;
  UCHAR* out = (UCHAR*)irp->UserBuffer;
  NTSTATUS st = STATUS_SUCCESS;
  ULONG i;
  if (code == KELM_IOCTL_QUERY_SLOTS) {
    /* Private, buffered: the slot records of the Windows 2000/XP form. */
    UCHAR* buf = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
    int b;
    if (outLen < KELM_SLOTS * KELM_SLOT_RECORD || !buf) return STATUS_BUFFER_TOO_SMALL;
    RtlZeroMemory(buf, KELM_SLOTS * KELM_SLOT_RECORD);
    ExAcquireFastMutex(&g_lock);
    for (i = 0; i < KELM_SLOTS; ++i) {
      UCHAR* r = buf + i * KELM_SLOT_RECORD;
      r[0] = g_slots[i].letter != 0;
      r[1] = (UCHAR)g_slots[i].letter;
      r[2] = g_slots[i].readOnly;
      r[3] = g_slots[i].letter != 0;
      for (b = 0; b < 8; ++b) r[4 + b] = (UCHAR)(g_slots[i].size >> (8 * b));
      RtlCopyMemory(r + 12, g_slots[i].name, sizeof g_slots[i].name);
    }
    ExReleaseFastMutex(&g_lock);
    irp->IoStatus.Information = KELM_SLOTS * KELM_SLOT_RECORD;
    return STATUS_SUCCESS;
  }
  switch (code) {
    case K98_CHECK:
      return Injected("check") ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS;
    case K98_SET_USER: {
      char text[sizeof g_userText];
      BOOLEAN terminated = FALSE;
      if (!in || inLen < REQUEST_LEN) return STATUS_INVALID_PARAMETER;
      for (i = 0; i < sizeof text; ++i) {
        text[i] = (char)in[USER_TEXT_OFFSET + i];
        if (!text[i]) terminated = TRUE;
      }
      if (!terminated || !text[0]) return STATUS_INVALID_PARAMETER;
      for (i = 0; text[i]; ++i)
        if (text[i] < '0' || text[i] > '9') return STATUS_INVALID_PARAMETER;
      if (Injected("set-user")) return STATUS_UNSUCCESSFUL;
      ExAcquireFastMutex(&g_lock);
      g_hasUser = TRUE;
      g_user = Load32(in);
      RtlCopyMemory(g_userText, text, sizeof text);
      ExReleaseFastMutex(&g_lock);
      return STATUS_SUCCESS;
    }
    case K98_MOUNT:
    case K98_DISMOUNT: {
      int slot;
      if (!in || inLen < 5) return STATUS_INVALID_PARAMETER;
      slot = in[0];
      if (slot >= KELM_SLOTS) return STATUS_INVALID_PARAMETER;
      if (code == K98_DISMOUNT) {
        if (Injected("dismount")) return STATUS_UNSUCCESSFUL;
        ExAcquireFastMutex(&g_lock);
        st = g_slots[slot].letter ? STATUS_SUCCESS : STATUS_NO_MEDIA_IN_DEVICE;
        if (NT_SUCCESS(st)) ReleaseSlot(&g_slots[slot]);
        ExReleaseFastMutex(&g_lock);
        return st;
      }
      if (Injected("mount")) return STATUS_UNSUCCESSFUL;
      ExAcquireFastMutex(&g_lock);
      /* Mounts are for the user that was set. */
      if (!g_hasUser || g_user != Load32(in + 1)) st = STATUS_ACCESS_DENIED;
      ExReleaseFastMutex(&g_lock);
      return NT_SUCCESS(st) ? Mount(slot) : st;
    }
    case K98_LETTER:
      if (!in || inLen < 1 || in[0] >= KELM_SLOTS) return STATUS_INVALID_PARAMETER;
      if (!out || outLen < 1) return STATUS_BUFFER_TOO_SMALL;
      if (Injected("letter")) return STATUS_UNSUCCESSFUL;
      ExAcquireFastMutex(&g_lock);
      if (g_slots[in[0]].letter) {
        out[0] = (UCHAR)(g_slots[in[0]].letter - 'A');
        irp->IoStatus.Information = 1;
      } else {
        st = STATUS_NO_MEDIA_IN_DEVICE;
      }
      ExReleaseFastMutex(&g_lock);
      return st;
    case K98_DISMOUNT_ALL:
      if (Injected("dismount-all")) return STATUS_UNSUCCESSFUL;
      ExAcquireFastMutex(&g_lock);
      for (i = 0; i < KELM_SLOTS; ++i) ReleaseSlot(&g_slots[i]);
      ExReleaseFastMutex(&g_lock);
      return STATUS_SUCCESS;
  }
  return STATUS_INVALID_DEVICE_REQUEST;
}

static NTSTATUS Dispatch(PDEVICE_OBJECT dev, PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  NTSTATUS st;
  irp->IoStatus.Information = 0;
  switch (sp->MajorFunction) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLOSE:
    case IRP_MJ_CLEANUP:
      st = STATUS_SUCCESS;
      break;
    case IRP_MJ_DEVICE_CONTROL:
    case IRP_MJ_FILE_SYSTEM_CONTROL:
      if (dev == g_control) {
        st = Control(sp, irp);
      } else {
        ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
        st = (code == KELM_FSCTL_LOCK_VOLUME || code == KELM_FSCTL_UNLOCK_VOLUME ||
              code == KELM_FSCTL_DISMOUNT_VOLUME)
                 ? STATUS_SUCCESS
                 : STATUS_INVALID_DEVICE_REQUEST;
      }
      break;
    default:
      st = STATUS_INVALID_DEVICE_REQUEST;
  }
  return StandinComplete(irp, st);
}

static void Unload(PDRIVER_OBJECT drv) {
  int i;
  (void)drv;
  for (i = 0; i < KELM_SLOTS; ++i) ReleaseSlot(&g_slots[i]);
  StandinDeleteDevices(g_disks, KELM_SLOTS, L"\\DosDevices\\kelm", &g_control);
  StandinFreeParamsPath(&g_params);
}

NTSTATUS DriverEntry(PDRIVER_OBJECT drv, PUNICODE_STRING registryPath) {
  UNICODE_STRING name, link;
  WCHAR diskBuf[24];
  NTSTATUS st;
  int i;
  ExInitializeFastMutex(&g_lock);
  st = StandinParamsPath(registryPath, &g_params);
  if (!NT_SUCCESS(st)) return st;
  for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) drv->MajorFunction[i] = Dispatch;
  drv->DriverUnload = Unload;
  RtlInitUnicodeString(&name, L"\\Device\\kelm");
  st = IoCreateDevice(drv, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &g_control);
  if (NT_SUCCESS(st)) {
    g_control->Flags &= ~DO_DEVICE_INITIALIZING;
    RtlInitUnicodeString(&link, L"\\DosDevices\\kelm");
    st = IoCreateSymbolicLink(&link, &name);
  }
  for (i = 0; NT_SUCCESS(st) && i < KELM_SLOTS; ++i) {
    DiskName(i, diskBuf, &name);
    st = IoCreateDevice(drv, 0, &name, FILE_DEVICE_DISK, 0, FALSE, &g_disks[i]);
    if (NT_SUCCESS(st)) g_disks[i]->Flags &= ~DO_DEVICE_INITIALIZING;
  }
  if (!NT_SUCCESS(st)) Unload(drv);
  return st;
}
