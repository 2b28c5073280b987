/* Stand-in for the virtual disk driver, Windows 2000/XP form: control
   device \Device\kelmgui (\DosDevices\kelmgui) and the four disk devices
   \Device\kelm\Kelm0..3. It checks each image the way a real driver must
   before attaching it and keeps what is attached; it serves no sectors.

   Failing "volume": Wine opens a device before the driver sees
   IRP_MJ_CREATE, so an open of \\.\X: cannot be refused. Instead the disk
   devices of the slots without an image are deleted while the failure is
   set, and \\.\X: leading to \Device\kelm\KelmN finds nothing. Every
   request (and the private query kelmsim sends after changing the setting)
   first brings the devices in line with the setting, and again after it
   has been handled, so a slot detached meanwhile follows. IRP_MJ_CREATE
   and IRP_MJ_CLOSE come asynchronously under Wine, which is why nothing
   waits for a particular one. A slot with an image keeps its device. */
#include <ntddk.h>

#include "standin_dev.h"
#include "standin_image.h"
#include "standin_protocol.h"
#include "standin_reg.h"


enum { KIND_CONTROL = 1, KIND_DISK = 2 };

typedef struct {
  int kind;
  int slot;
} DEVEXT;

typedef struct {
  char letter;       /* 0: none */
  BOOLEAN linkOwned; /* the driver made \DosDevices\X: itself */
  BOOLEAN attached;
  BOOLEAN readOnly;
  ULONGLONG size;
  char name[KELM_NAME_MAX + 1];
} SLOT;

static SLOT g_slots[KELM_SLOTS];
static FAST_MUTEX g_lock;
static UNICODE_STRING g_params;
static HANDLE g_dir;
static PDRIVER_OBJECT g_driver;
static PDEVICE_OBJECT g_control;
/* NULL while the slot's device is deleted for a failing volume open. */
static PDEVICE_OBJECT g_disks[KELM_SLOTS];

static void DiskName(int slot, WCHAR buf[24], PUNICODE_STRING us) {
  static const WCHAR text[] = L"\\Device\\kelm\\Kelm0";
  RtlCopyMemory(buf, text, sizeof text);
  buf[17] = (WCHAR)(L'0' + slot);
  RtlInitUnicodeString(us, buf);
}

static BOOLEAN Injected(const char* request) {
  return StandinTextEquals(&g_params, L"" KELM_DISK_FAIL_VALUE, request);
}

static NTSTATUS MakeDevice(PDRIVER_OBJECT drv, PUNICODE_STRING name, DEVICE_TYPE type, int kind,
                           int slot, PDEVICE_OBJECT* out);

/* Deletes the devices of the slots without an image while "volume" fails,
   recreates every missing one otherwise. busy is the device whose request
   is being served: deleting it now would fail that request, so it goes at
   the next request. */
static NTSTATUS SyncDisks(PDEVICE_OBJECT busy) {
  const BOOLEAN hide = Injected("volume");
  NTSTATUS result = STATUS_SUCCESS;
  WCHAR diskBuf[24];
  UNICODE_STRING name;
  int i;
  ExAcquireFastMutex(&g_lock);
  for (i = 0; i < KELM_SLOTS; ++i) {
    if (hide && g_disks[i] && g_disks[i] != busy && !g_slots[i].attached) {
      IoDeleteDevice(g_disks[i]);
      g_disks[i] = NULL;
    } else if (!hide && !g_disks[i]) {
      NTSTATUS st;
      DiskName(i, diskBuf, &name);
      st = MakeDevice(g_driver, &name, FILE_DEVICE_DISK, KIND_DISK, i, &g_disks[i]);
      if (!NT_SUCCESS(st)) {
        g_disks[i] = NULL;
        result = st;
      }
    }
  }
  ExReleaseFastMutex(&g_lock);
  return result;
}

/* Whether \DosDevices\X: exists and names the slot's disk device (the
   Windows XP sequence defines the letter from user mode first). */
static BOOLEAN LinkNamesSlot(PUNICODE_STRING link, int slot) {
  OBJECT_ATTRIBUTES oa;
  HANDLE h;
  WCHAR buf[64], diskBuf[24];
  UNICODE_STRING target, disk;
  ULONG len = 0;
  NTSTATUS st;
  InitializeObjectAttributes(&oa, link, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
  if (!NT_SUCCESS(ZwOpenSymbolicLinkObject(&h, GENERIC_READ, &oa))) return FALSE;
  target.Buffer = buf;
  target.Length = 0;
  target.MaximumLength = sizeof buf;
  st = ZwQuerySymbolicLinkObject(h, &target, &len);
  ZwClose(h);
  if (!NT_SUCCESS(st)) return FALSE;
  DiskName(slot, diskBuf, &disk);
  return RtlCompareUnicodeString(&target, &disk, TRUE) == 0;
}

/* Forgets the slot's image and letter; removes the link it made. */
static void ReleaseSlot(SLOT* s) {
  if (s->letter && s->linkOwned) {
    WCHAR buf[16];
    UNICODE_STRING link;
    StandinLinkName(s->letter, buf, &link);
    IoDeleteSymbolicLink(&link);
  }
  RtlZeroMemory(s, sizeof *s);
}

static NTSTATUS CreateLink(const UCHAR* in, ULONG inLen) {
  char letter;
  int slot, i;
  WCHAR buf[16], diskBuf[24];
  UNICODE_STRING link, disk;
  NTSTATUS st;
  if (inLen < 2) return STATUS_INVALID_PARAMETER;
  letter = (char)in[0];
  if (letter >= 'a' && letter <= 'z') letter = (char)(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Z' || in[1] < '0' || in[1] > '3') return STATUS_INVALID_PARAMETER;
  slot = in[1] - '0';
  if (Injected("create-link")) return STATUS_UNSUCCESSFUL;
  ExAcquireFastMutex(&g_lock);
  st = STATUS_SUCCESS;
  for (i = 0; i < KELM_SLOTS; ++i)
    if (i != slot && g_slots[i].letter == letter) st = STATUS_OBJECT_NAME_COLLISION;
  if (NT_SUCCESS(st) && g_slots[slot].letter) {
    /* The slot keeps its letter; a second letter for it is refused. */
    st = g_slots[slot].letter == letter ? STATUS_SUCCESS : STATUS_DEVICE_BUSY;
    ExReleaseFastMutex(&g_lock);
    return st;
  }
  if (NT_SUCCESS(st)) {
    StandinLinkName(letter, buf, &link);
    DiskName(slot, diskBuf, &disk);
    st = IoCreateSymbolicLink(&link, &disk);
    if (NT_SUCCESS(st)) {
      g_slots[slot].linkOwned = TRUE;
    } else if (LinkNamesSlot(&link, slot)) {
      g_slots[slot].linkOwned = FALSE;
      st = STATUS_SUCCESS;
    }
    if (NT_SUCCESS(st)) g_slots[slot].letter = letter;
  }
  ExReleaseFastMutex(&g_lock);
  return st;
}

/* Link removal: detaches whatever is attached under the letter and
   removes the driver's own link. The second byte is not trusted (a
   dismount sends '0' whatever the slot). */
static NTSTATUS RemoveLink(const UCHAR* in, ULONG inLen) {
  char letter;
  int i;
  NTSTATUS st = STATUS_OBJECT_NAME_NOT_FOUND;
  if (inLen < 2) return STATUS_INVALID_PARAMETER;
  letter = (char)in[0];
  if (letter >= 'a' && letter <= 'z') letter = (char)(letter - 'a' + 'A');
  if (Injected("link-removal")) return STATUS_UNSUCCESSFUL;
  ExAcquireFastMutex(&g_lock);
  for (i = 0; i < KELM_SLOTS; ++i) {
    if (g_slots[i].letter && g_slots[i].letter == letter) {
      ReleaseSlot(&g_slots[i]);
      st = STATUS_SUCCESS;
    }
  }
  ExReleaseFastMutex(&g_lock);
  return st;
}

static NTSTATUS CloseAll(void) {
  int i;
  if (Injected("close-all")) return STATUS_UNSUCCESSFUL;
  ExAcquireFastMutex(&g_lock);
  for (i = 0; i < KELM_SLOTS; ++i) ReleaseSlot(&g_slots[i]);
  ExReleaseFastMutex(&g_lock);
  return STATUS_SUCCESS;
}

static NTSTATUS OpenFile(int slot, const UCHAR* in, ULONG inLen) {
  char password[KELM_OFI_PASSWORD_LEN];
  USHORT nameLen;
  ULONGLONG size;
  BOOLEAN readOnly, terminated = FALSE;
  const char* name;
  NTSTATUS st;
  int i;
  if (inLen < KELM_OFI_NAME + 1) return STATUS_INVALID_PARAMETER;
  nameLen = (USHORT)(in[KELM_OFI_NAMELEN] | in[KELM_OFI_NAMELEN + 1] << 8);
  if (nameLen == 0 || nameLen > KELM_NAME_MAX || (ULONG)KELM_OFI_NAME + nameLen + 1 > inLen)
    return STATUS_INVALID_PARAMETER;
  name = (const char*)in + KELM_OFI_NAME;
  for (i = 0; i < nameLen; ++i)
    if (name[i] == 0) return STATUS_INVALID_PARAMETER;
  for (i = 0; i < KELM_OFI_PASSWORD_LEN; ++i) {
    password[i] = (char)in[KELM_OFI_PASSWORD + i];
    if (password[i] == 0) terminated = TRUE;
  }
  if (!terminated) return STATUS_INVALID_PARAMETER;
  readOnly = in[KELM_OFI_READONLY] != 0;
  size = 0;
  for (i = 7; i >= 0; --i) size = size << 8 | in[KELM_OFI_SIZE + i];
  if (Injected("open-file")) return STATUS_UNSUCCESSFUL;

  ExAcquireFastMutex(&g_lock);
  st = g_slots[slot].attached ? STATUS_DEVICE_BUSY : STATUS_SUCCESS;
  ExReleaseFastMutex(&g_lock);
  if (!NT_SUCCESS(st)) return st;
  st = StandinCheckImage(name, nameLen, password, readOnly, size);
  RtlSecureZeroMemory(password, sizeof password);
  if (!NT_SUCCESS(st)) return st;

  ExAcquireFastMutex(&g_lock);
  if (g_slots[slot].attached) {
    st = STATUS_DEVICE_BUSY;
  } else {
    SLOT* s = &g_slots[slot];
    s->attached = TRUE;
    s->readOnly = readOnly;
    s->size = size;
    RtlZeroMemory(s->name, sizeof s->name);
    RtlCopyMemory(s->name, name, nameLen);
  }
  ExReleaseFastMutex(&g_lock);
  return st;
}

static NTSTATUS QuerySlots(UCHAR* out, ULONG outLen, ULONG_PTR* info) {
  int i, b;
  if (outLen < KELM_SLOTS * KELM_SLOT_RECORD) return STATUS_BUFFER_TOO_SMALL;
  RtlZeroMemory(out, KELM_SLOTS * KELM_SLOT_RECORD);
  ExAcquireFastMutex(&g_lock);
  for (i = 0; i < KELM_SLOTS; ++i) {
    UCHAR* r = out + i * KELM_SLOT_RECORD;
    const SLOT* s = &g_slots[i];
    r[0] = s->attached;
    r[1] = (UCHAR)s->letter;
    r[2] = s->readOnly;
    r[3] = s->linkOwned;
    for (b = 0; b < 8; ++b) r[4 + b] = (UCHAR)(s->size >> (8 * b));
    RtlCopyMemory(r + 12, s->name, sizeof s->name);
  }
  ExReleaseFastMutex(&g_lock);
  *info = KELM_SLOTS * KELM_SLOT_RECORD;
  return STATUS_SUCCESS;
}

static NTSTATUS DeviceControl(DEVEXT* ext, PIO_STACK_LOCATION sp, PIRP irp) {
  ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
  ULONG inLen = sp->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outLen = sp->Parameters.DeviceIoControl.OutputBufferLength;
  UCHAR* buf = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
  if (inLen && !buf) return STATUS_INVALID_PARAMETER;
  if (ext->kind == KIND_CONTROL) {
    switch (code) {
      case KELM_IOCTL_CREATE_SYM_LINK:
        return CreateLink(buf, inLen);
      case KELM_IOCTL_LINK_REMOVAL:
        return RemoveLink(buf, inLen);
      case KELM_IOCTL_CLOSE_ALL:
        return CloseAll();
      case KELM_IOCTL_STARTUP:
        if (inLen < 1) return STATUS_INVALID_PARAMETER;
        return Injected("start-up") ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS;
      case KELM_IOCTL_QUERY_SLOTS: {
        /* kelmsim's way to have a changed setting applied now. */
        NTSTATUS st = SyncDisks(NULL);
        return NT_SUCCESS(st) ? QuerySlots(buf, outLen, &irp->IoStatus.Information) : st;
      }
    }
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  switch (code) {
    case KELM_IOCTL_FILE_DISK_OPEN_FILE:
      return OpenFile(ext->slot, buf, inLen);
    case KELM_IOCTL_LINK_REMOVAL:
      return RemoveLink(buf, inLen);
    case KELM_FSCTL_LOCK_VOLUME:
    case KELM_FSCTL_UNLOCK_VOLUME:
    case KELM_FSCTL_DISMOUNT_VOLUME:
      return STATUS_SUCCESS;
  }
  return STATUS_INVALID_DEVICE_REQUEST;
}

static NTSTATUS Dispatch(PDEVICE_OBJECT dev, PIRP irp) {
  DEVEXT* ext = (DEVEXT*)dev->DeviceExtension;
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  NTSTATUS st;
  irp->IoStatus.Information = 0;
  SyncDisks(dev);
  switch (sp->MajorFunction) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLOSE:
    case IRP_MJ_CLEANUP:
      st = STATUS_SUCCESS;
      break;
    case IRP_MJ_DEVICE_CONTROL:
    case IRP_MJ_FILE_SYSTEM_CONTROL:
      st = DeviceControl(ext, sp, irp);
      break;
    default:
      st = STATUS_INVALID_DEVICE_REQUEST;
  }
  SyncDisks(dev);
  return StandinComplete(irp, st);
}

static void Unload(PDRIVER_OBJECT drv) {
  int i;
  (void)drv;
  for (i = 0; i < KELM_SLOTS; ++i) ReleaseSlot(&g_slots[i]);
  StandinDeleteDevices(g_disks, KELM_SLOTS, L"\\DosDevices\\kelmgui", &g_control);
  if (g_dir) ZwClose(g_dir);
  g_dir = NULL;
  StandinFreeParamsPath(&g_params);
}

static NTSTATUS MakeDevice(PDRIVER_OBJECT drv, PUNICODE_STRING name, DEVICE_TYPE type, int kind,
                           int slot, PDEVICE_OBJECT* out) {
  DEVEXT* ext;
  NTSTATUS st = IoCreateDevice(drv, sizeof(DEVEXT), name, type, 0, FALSE, out);
  if (!NT_SUCCESS(st)) return st;
  ext = (DEVEXT*)(*out)->DeviceExtension;
  ext->kind = kind;
  ext->slot = slot;
  (*out)->Flags |= DO_BUFFERED_IO;
  (*out)->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

NTSTATUS DriverEntry(PDRIVER_OBJECT drv, PUNICODE_STRING registryPath) {
  UNICODE_STRING name, link;
  OBJECT_ATTRIBUTES oa;
  WCHAR diskBuf[24];
  NTSTATUS st;
  int i;
  ExInitializeFastMutex(&g_lock);
  RtlZeroMemory(g_slots, sizeof g_slots);
  g_driver = drv;
  st = StandinParamsPath(registryPath, &g_params);
  if (!NT_SUCCESS(st)) return st;
  for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) drv->MajorFunction[i] = Dispatch;
  drv->DriverUnload = Unload;

  RtlInitUnicodeString(&name, L"\\Device\\kelmgui");
  st = MakeDevice(drv, &name, FILE_DEVICE_UNKNOWN, KIND_CONTROL, 0, &g_control);
  if (NT_SUCCESS(st)) {
    RtlInitUnicodeString(&link, L"\\DosDevices\\kelmgui");
    st = IoCreateSymbolicLink(&link, &name);
  }
  if (NT_SUCCESS(st)) {
    RtlInitUnicodeString(&name, L"\\Device\\kelm");
    InitializeObjectAttributes(&oa, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    st = ZwCreateDirectoryObject(&g_dir, DIRECTORY_ALL_ACCESS, &oa);
  }
  for (i = 0; NT_SUCCESS(st) && i < KELM_SLOTS; ++i) {
    DiskName(i, diskBuf, &name);
    st = MakeDevice(drv, &name, FILE_DEVICE_DISK, KIND_DISK, i, &g_disks[i]);
  }
  if (!NT_SUCCESS(st)) Unload(drv);
  return st;
}
