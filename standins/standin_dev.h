/* Device and IRP chores the stand-in drivers share. */
#ifndef KELM_STANDIN_DEV_H
#define KELM_STANDIN_DEV_H
#include <ntddk.h>

/* Sets the IRP's status, completes it and returns the status. */
NTSTATUS StandinComplete(PIRP irp, NTSTATUS st);
/* Removes a DOS link such as L"\\DosDevices\\kelm". */
void StandinDeleteLink(PCWSTR dosLink);
/* Unload's device part: count disk devices (may be 0), then the control
   device's DOS link (may be NULL) and the control device; every deleted
   device pointer is cleared. */
void StandinDeleteDevices(PDEVICE_OBJECT* disks, int count, PCWSTR controlLink, PDEVICE_OBJECT* control);
#endif
