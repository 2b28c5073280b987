#include "standin_dev.h"

NTSTATUS StandinComplete(PIRP irp, NTSTATUS st) {
  irp->IoStatus.Status = st;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return st;
}

void StandinDeleteLink(PCWSTR dosLink) {
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, dosLink);
  IoDeleteSymbolicLink(&link);
}

void StandinDeleteDevices(PDEVICE_OBJECT* disks, int count, PCWSTR controlLink, PDEVICE_OBJECT* control) {
  int i;
  for (i = 0; i < count; ++i) {
    if (disks[i]) IoDeleteDevice(disks[i]);
    disks[i] = NULL;
  }
  if (controlLink) StandinDeleteLink(controlLink);
  if (*control) IoDeleteDevice(*control);
  *control = NULL;
}
