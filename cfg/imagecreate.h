// The Create button of a disk slot in the configuration dialog: checks the
// slot's fields, writes and formats the image file behind a progress
// window, and saves the slot.
#pragma once
#include <windows.h>

#include <cstdint>

#include "common/storefields.h"

namespace kelm::cfg {

// What the dialog hands over for one slot.
struct CreateImageRequest {
  HWND owner = nullptr;
  const char* userId = nullptr;  // null or empty: no user selected
  unsigned slot = 0;             // 0..3
  const char* path = "";
  const char* sizeText = "";
  const char* password = "";
  bool valid = false;
  bool autoMount = false;
  bool readOnly = false;
  const char* delayText = "";
  const store::UserPasswordTable* passwords = nullptr;  // software mode only
};

enum class CreateImageResult {
  NoUser,
  Unsupported,
  NotValid,
  NoPath,
  BadSize,
  WeakPassword,
  PasswordTooLong,
  Declined,  // the existing file was kept
  CannotDelete,
  NoSpace,
  FillFailed,
  FormatFailed,
  PathTooLong,  // the store could not hold the path
  NotSaved,     // image made, store not reachable
  Created,
};

// Runs on the dialog's thread; every failure is told in a message box.
CreateImageResult CreateImage(const CreateImageRequest& request);

// Free megabytes on the drive of path's first letter; false unless it is a
// fixed drive whose free space can be read.
bool FreeSpaceMb(const char* path, std::uint64_t& freeMb);

// Tests only: replaces the platform version (0: the real one).
void SetPlatformVersionForTest(int version);

}  // namespace kelm::cfg
