/* Stand-in for the file-monitor driver: device \Device\keskmon
   (\DosDevices\keskmon and \DosDevices\kelmmon.vxd). It enforces nothing; it records the current
   user text, the configuring switch and how many reloads it was asked
   for, and answers a private query with them. */
#include <ntddk.h>

#include "standin_dev.h"
#include "standin_protocol.h"

static FAST_MUTEX g_lock;
static BOOLEAN g_hasUser;
static char g_user[KELM_MON_USER_MAX + 1];
static UCHAR g_configuring; /* 0 never told, 1 yes, 2 no */
static ULONG g_reloads;
static PDEVICE_OBJECT g_device;

static BOOLEAN TextIs(const UCHAR* in, ULONG len, const char* text) {
  ULONG i;
  for (i = 0; i < len; ++i)
    if (!text[i] || in[i] != (UCHAR)text[i]) return FALSE;
  return text[len] == 0;
}

static NTSTATUS Control(PIO_STACK_LOCATION sp, PIRP irp) {
  ULONG inLen = sp->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outLen = sp->Parameters.DeviceIoControl.OutputBufferLength;
  UCHAR* buf = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
  NTSTATUS st = STATUS_SUCCESS;
  if (inLen && !buf) return STATUS_INVALID_PARAMETER;
  ExAcquireFastMutex(&g_lock);
  switch (sp->Parameters.DeviceIoControl.IoControlCode) {
    case KELM_MON_IOCTL_SET_USER:
      /* The text comes without its terminating zero. */
      if (inLen == 0 || inLen > KELM_MON_USER_MAX) {
        st = STATUS_INVALID_PARAMETER;
        break;
      }
      RtlZeroMemory(g_user, sizeof g_user);
      RtlCopyMemory(g_user, buf, inLen);
      g_hasUser = TRUE;
      break;
    case KELM_MON_IOCTL_RELOAD:
      ++g_reloads;
      break;
    case KELM_MON_IOCTL_CONFIGURING:
      if (TextIs(buf, inLen, "yes"))
        g_configuring = 1;
      else if (TextIs(buf, inLen, "no"))
        g_configuring = 2;
      else
        st = STATUS_INVALID_PARAMETER;
      break;
    case KELM_MON_IOCTL_QUERY:
      if (outLen < KELM_MON_RECORD) {
        st = STATUS_BUFFER_TOO_SMALL;
        break;
      }
      RtlZeroMemory(buf, KELM_MON_RECORD);
      buf[0] = g_hasUser;
      buf[1] = g_configuring;
      buf[4] = (UCHAR)g_reloads;
      buf[5] = (UCHAR)(g_reloads >> 8);
      buf[6] = (UCHAR)(g_reloads >> 16);
      buf[7] = (UCHAR)(g_reloads >> 24);
      RtlCopyMemory(buf + 8, g_user, sizeof g_user);
      irp->IoStatus.Information = KELM_MON_RECORD;
      break;
    case KELM_MON_IOCTL_RESET:
      g_hasUser = FALSE;
      RtlZeroMemory(g_user, sizeof g_user);
      g_configuring = 0;
      g_reloads = 0;
      break;
    default:
      st = STATUS_INVALID_DEVICE_REQUEST;
  }
  ExReleaseFastMutex(&g_lock);
  return st;
}

static NTSTATUS Dispatch(PDEVICE_OBJECT dev, PIRP irp) {
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  NTSTATUS st;
  (void)dev;
  irp->IoStatus.Information = 0;
  switch (sp->MajorFunction) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLOSE:
    case IRP_MJ_CLEANUP:
      st = STATUS_SUCCESS;
      break;
    case IRP_MJ_DEVICE_CONTROL:
      st = Control(sp, irp);
      break;
    default:
      st = STATUS_INVALID_DEVICE_REQUEST;
  }
  return StandinComplete(irp, st);
}

static void Unload(PDRIVER_OBJECT drv) {
  (void)drv;
  StandinDeleteLink(L"\\DosDevices\\keskmon");
  StandinDeleteDevices(NULL, 0, L"\\DosDevices\\kelmmon.vxd", &g_device);
}

NTSTATUS DriverEntry(PDRIVER_OBJECT drv, PUNICODE_STRING registryPath) {
  UNICODE_STRING name, link;
  NTSTATUS st;
  int i;
  (void)registryPath;
  ExInitializeFastMutex(&g_lock);
  for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) drv->MajorFunction[i] = Dispatch;
  drv->DriverUnload = Unload;
  RtlInitUnicodeString(&name, L"\\Device\\keskmon");
  st = IoCreateDevice(drv, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &g_device);
  if (!NT_SUCCESS(st)) return st;
  g_device->Flags |= DO_BUFFERED_IO;
  g_device->Flags &= ~DO_DEVICE_INITIALIZING;
  RtlInitUnicodeString(&link, L"\\DosDevices\\keskmon");
  st = IoCreateSymbolicLink(&link, &name);
  /* The Windows 98 callers open the same device as "\\.\kelmmon.vxd". */
  if (NT_SUCCESS(st)) {
    RtlInitUnicodeString(&link, L"\\DosDevices\\kelmmon.vxd");
    st = IoCreateSymbolicLink(&link, &name);
  }
  if (!NT_SUCCESS(st)) Unload(drv);
  return st;
}
