/* Requests of the stand-in drivers: the fixed ones the suite sends and the
   private ones kelmsim uses to read back what the stand-ins recorded.
   Plain C, shared by the drivers and kelmsim; every record is explicit
   little-endian bytes. */
#ifndef KELM_STANDIN_PROTOCOL_H
#define KELM_STANDIN_PROTOCOL_H

/* Virtual disk driver, Windows 2000/XP form. */
#define KELM_IOCTL_FILE_DISK_OPEN_FILE 0x8000e000u
#define KELM_IOCTL_CREATE_SYM_LINK 0x8000e00cu
#define KELM_IOCTL_LINK_REMOVAL 0x8000e014u
#define KELM_IOCTL_CLOSE_ALL 0x8000e018u
#define KELM_IOCTL_STARTUP 0x8000e020u
/* Private: the four slots, KELM_SLOT_RECORD bytes each, slot order. */
#define KELM_IOCTL_QUERY_SLOTS 0x8000e100u
/* Volume requests sent to \\.\X: before a disk is taken away. */
#define KELM_FSCTL_LOCK_VOLUME 0x90018u
#define KELM_FSCTL_DISMOUNT_VOLUME 0x90020u
#define KELM_FSCTL_UNLOCK_VOLUME 0x9001cu

#define KELM_SLOTS 4
/* Slot record: 0 attached (0/1), 1 drive letter (0 none), 2 read-only
   (0/1), 3 link made by the driver (0/1), 4..11 image size in bytes,
   12..12+KELM_NAME_MAX the image name as the record gave it, with its
   "\??\" prefix, zero-terminated. */
#define KELM_NAME_MAX 263
#define KELM_SLOT_RECORD (12 + KELM_NAME_MAX + 1)

/* OpenFileInfo record. */
#define KELM_OFI_READONLY 4
#define KELM_OFI_PASSWORD 5
#define KELM_OFI_PASSWORD_LEN 11
#define KELM_OFI_SIZE 16
#define KELM_OFI_NAMELEN 24
#define KELM_OFI_NAME 26

/* Failure injection: REG_SZ "fail" under the service key's Parameters
   names the one request that fails ("create-link", "open-file",
   "link-removal", "close-all", "start-up"). Opening a device cannot be
   failed this way: Wine opens it before the driver sees IRP_MJ_CREATE.
   "volume" instead deletes the disk devices of the slots without an image
   (so \\.\X: leads nowhere); every request and KELM_IOCTL_QUERY_SLOTS
   first apply the setting. */
#define KELM_DISK_SERVICE "Kelm"
/* The Windows 98 form (device \Device\kelm) and its failure names:
   "check", "set-user", "mount", "letter", "dismount", "dismount-all". */
#define KELM_DISK98_SERVICE "kelm98"
#define KELM_DISK_FAIL_VALUE "fail"

/* File-monitor driver. */
#define KELM_MON_IOCTL_SET_USER 0x83000228u
#define KELM_MON_IOCTL_RELOAD 0x83000214u
#define KELM_MON_IOCTL_CONFIGURING 0x8300022cu
/* Private: KELM_MON_RECORD bytes: 0 a user text was set (0/1),
   1 configuring (0 never told, 1 yes, 2 no), 4..7 reloads,
   8..8+KELM_MON_USER_MAX the user text, zero-terminated. */
#define KELM_MON_IOCTL_QUERY 0x830023c0u
/* Private: forget everything recorded. */
#define KELM_MON_IOCTL_RESET 0x830023c4u
#define KELM_MON_USER_MAX 99
#define KELM_MON_RECORD (8 + KELM_MON_USER_MAX + 1)
#define KELM_MON_SERVICE "kelmmon"

/* RF key receiver: REG_DWORD "code", "noreading", "fail" under the
   service key's Parameters, read on every request. The driver counts the
   readings it is asked for in REG_DWORD "readings" there, except those
   that carry input bytes (kelmsim's own). */
#define KELM_RX_IOCTL_READ 0x220008u
#define KELM_RX_SERVICE "kelmrecv"
#define KELM_RX_HARDWARE_ID "USB\\VID_4B1E&PID_0001"
#define KELM_RX_INSTANCE "ROOT\\KELMRECV\\0000"

#endif
