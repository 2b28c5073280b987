// What the tray program knows of the service's state, how each
// notification changes it, and the tray menu built from it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cfg/logic/servicelines.h"

namespace kelm::cfg {

inline constexpr unsigned kSlots = 4;

// One slot of the logged-in user as read from the store.
struct SlotView {
  char valid[20];
  char imageFile[1024];
  std::uint32_t sizeMb;
  char autoMount[20];
};

struct ClientState {
  std::uint32_t user = 0;         // 0: nobody logged in
  char letters[kSlots] = {};      // 0: slot not mounted
  SlotView slots[kSlots] = {};

  void ClearSlots();
  // The slot drive letters for the shell extension: slot 0 in bits 0-7 up to
  // slot 3 in bits 24-31.
  std::uint32_t PackedLetters() const;
  // The pipe broke: nobody logged in and nothing mounted as far as we know.
  void Disconnected();
};

enum class TrayIcon { Unchanged, Running, Stopped };

// What the window side does after a notification, in this order: change
// the icon, load the user's slots (user is already set), send the request,
// start a key-loss warning for warningCode.
struct NotifyEffect {
  TrayIcon icon = TrayIcon::Unchanged;
  bool loadSlots = false;
  std::uint32_t request = 0;  // 0: none
  bool warn = false;
  std::uint32_t warningCode = 0;
};

NotifyEffect HandleNotification(ClientState& state, Notification n);

// One item of the tray menu above the fixed commands.
struct MenuEntry {
  bool separator = false;
  unsigned id = 0;
  std::string text;
  bool checked = false;
};

inline constexpr unsigned kCmdSlotBase = 0x7000;
inline constexpr unsigned kCmdConfig = 32771;
inline constexpr unsigned kCmdUninstall = 32772;
inline constexpr unsigned kCmdHide = 32773;
inline constexpr unsigned kCmdLogin = 13411;

// The items the tray menu gets before its fixed commands, top to bottom:
// the log-in entry and a separator (software installations), then the
// logged-in user's valid slots from 3 down to 0 and a separator.
std::vector<MenuEntry> TrayMenuTop(const ClientState& state, bool softwareInstall, std::string_view loginText);

}  // namespace kelm::cfg
