/* Stand-in for the RF key receiver's driver: a Plug and Play function
   driver over a root-enumerated device whose hardware id is that of the
   receiver. It exposes the USB device interface and answers the key
   reading with what its service key's Parameters say at that moment:
   "code" (REG_DWORD), "noreading" (nonzero: write nothing), "fail"
   (nonzero: fail the reading). It counts the suite's readings in
   "readings", so that a test can see the service's once-a-second steps go
   by; kelmsim marks its own readings with an input byte and is not
   counted. */
#include <ntddk.h>

#include "standin_dev.h"
#include "standin_protocol.h"
#include "standin_reg.h"

static const GUID kUsbDeviceInterface = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

typedef struct {
  PDEVICE_OBJECT lower;
  UNICODE_STRING iface;
  BOOLEAN hasIface;
} RXEXT;

static UNICODE_STRING g_params;

static NTSTATUS Complete(PIRP irp, NTSTATUS st, ULONG_PTR info) {
  irp->IoStatus.Information = info;
  return StandinComplete(irp, st);
}

static NTSTATUS Forward(RXEXT* ext, PIRP irp) {
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(ext->lower, irp);
}

static NTSTATUS Read(PIO_STACK_LOCATION sp, PIRP irp) {
  ULONG value = 0;
  UCHAR* out = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
  if (sp->Parameters.DeviceIoControl.InputBufferLength == 0) {
    ULONG readings = 0;
    StandinReadDword(&g_params, L"readings", &readings);
    StandinWriteDword(&g_params, L"readings", readings + 1);
  }
  if (StandinReadDword(&g_params, L"fail", &value) && value) return Complete(irp, STATUS_UNSUCCESSFUL, 0);
  if (StandinReadDword(&g_params, L"noreading", &value) && value) return Complete(irp, STATUS_SUCCESS, 0);
  if (sp->Parameters.DeviceIoControl.OutputBufferLength < 4 || !out)
    return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
  value = 0;
  StandinReadDword(&g_params, L"code", &value);
  out[0] = (UCHAR)value;
  out[1] = (UCHAR)(value >> 8);
  out[2] = (UCHAR)(value >> 16);
  out[3] = (UCHAR)(value >> 24);
  return Complete(irp, STATUS_SUCCESS, 4);
}

static NTSTATUS Dispatch(PDEVICE_OBJECT dev, PIRP irp) {
  RXEXT* ext = (RXEXT*)dev->DeviceExtension;
  PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
  NTSTATUS st;
  switch (sp->MajorFunction) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLOSE:
    case IRP_MJ_CLEANUP:
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_DEVICE_CONTROL:
      if (sp->Parameters.DeviceIoControl.IoControlCode == KELM_RX_IOCTL_READ) return Read(sp, irp);
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    case IRP_MJ_POWER:
      PoStartNextPowerIrp(irp);
      IoSkipCurrentIrpStackLocation(irp);
      return PoCallDriver(ext->lower, irp);
    case IRP_MJ_PNP:
      switch (sp->MinorFunction) {
        case IRP_MN_START_DEVICE:
          if (ext->hasIface) IoSetDeviceInterfaceState(&ext->iface, TRUE);
          irp->IoStatus.Status = STATUS_SUCCESS;
          return Forward(ext, irp);
        case IRP_MN_SURPRISE_REMOVAL:
          if (ext->hasIface) IoSetDeviceInterfaceState(&ext->iface, FALSE);
          irp->IoStatus.Status = STATUS_SUCCESS;
          return Forward(ext, irp);
        case IRP_MN_REMOVE_DEVICE:
          if (ext->hasIface) {
            IoSetDeviceInterfaceState(&ext->iface, FALSE);
            RtlFreeUnicodeString(&ext->iface);
            ext->hasIface = FALSE;
          }
          irp->IoStatus.Status = STATUS_SUCCESS;
          st = Forward(ext, irp);
          IoDetachDevice(ext->lower);
          IoDeleteDevice(dev);
          return st;
        case IRP_MN_QUERY_REMOVE_DEVICE:
        case IRP_MN_CANCEL_REMOVE_DEVICE:
        case IRP_MN_QUERY_STOP_DEVICE:
        case IRP_MN_CANCEL_STOP_DEVICE:
        case IRP_MN_STOP_DEVICE:
          irp->IoStatus.Status = STATUS_SUCCESS;
          return Forward(ext, irp);
      }
      return Forward(ext, irp);
  }
  return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

static NTSTATUS AddDevice(PDRIVER_OBJECT drv, PDEVICE_OBJECT pdo) {
  PDEVICE_OBJECT fdo;
  RXEXT* ext;
  NTSTATUS st = IoCreateDevice(drv, sizeof(RXEXT), NULL, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN,
                               FALSE, &fdo);
  if (!NT_SUCCESS(st)) return st;
  ext = (RXEXT*)fdo->DeviceExtension;
  RtlZeroMemory(ext, sizeof *ext);
  ext->lower = IoAttachDeviceToDeviceStack(fdo, pdo);
  if (!ext->lower) {
    IoDeleteDevice(fdo);
    return STATUS_NO_SUCH_DEVICE;
  }
  st = IoRegisterDeviceInterface(pdo, &kUsbDeviceInterface, NULL, &ext->iface);
  ext->hasIface = NT_SUCCESS(st);
  fdo->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
  fdo->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

static void Unload(PDRIVER_OBJECT drv) {
  (void)drv;
  StandinFreeParamsPath(&g_params);
}

NTSTATUS DriverEntry(PDRIVER_OBJECT drv, PUNICODE_STRING registryPath) {
  int i;
  NTSTATUS st = StandinParamsPath(registryPath, &g_params);
  if (!NT_SUCCESS(st)) return st;
  for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) drv->MajorFunction[i] = Dispatch;
  drv->DriverExtension->AddDevice = AddDevice;
  drv->DriverUnload = Unload;
  return STATUS_SUCCESS;
}
