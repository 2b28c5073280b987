#include "cfg/logic/trayclient.h"

#include <cstdio>
#include <cstring>

#include "common/storefields.h"

namespace kelm::cfg {

void ClientState::ClearSlots() {
  std::memset(slots, 0, sizeof slots);
  std::memset(letters, 0, sizeof letters);
}

std::uint32_t ClientState::PackedLetters() const {
  std::uint32_t packed = 0;
  for (unsigned s = 0; s < kSlots; ++s) packed |= static_cast<std::uint32_t>(static_cast<unsigned char>(letters[s])) << (8 * s);
  return packed;
}

void ClientState::Disconnected() {
  user = 0;
  std::memset(letters, 0, sizeof letters);
}

NotifyEffect HandleNotification(ClientState& state, Notification n) {
  NotifyEffect e;
  switch (n.kind) {
    case kKindKeyLost:
      e.warn = true;
      e.warningCode = n.value;
      break;
    case kKindState:
      if (n.value == kStateMounted) {
        e.icon = TrayIcon::Running;
        e.request = kReqGetKey;
        break;
      }
      if (n.value == kStateNotMounted) state.user = 0;
      e.icon = TrayIcon::Stopped;
      std::memset(state.letters, 0, sizeof state.letters);
      break;
    case kKindKey:
      if (n.value == 0) {
        state.ClearSlots();
        state.user = 0;
        break;
      }
      state.user = n.value;
      e.loadSlots = true;
      e.request = kReqCheckMount;
      break;
    case kKindDriveLetter: {
      const unsigned slot = n.value & 0xFF;
      if (slot < kSlots) state.letters[slot] = static_cast<char>((n.value >> 8) & 0xFF);
      break;
    }
    default:
      break;
  }
  return e;
}

std::vector<MenuEntry> TrayMenuTop(const ClientState& state, bool softwareInstall, std::string_view loginText) {
  std::vector<MenuEntry> items;
  if (softwareInstall) {
    items.push_back({false, kCmdLogin, std::string(loginText), false});
    items.push_back({true, 0, "", false});
  }
  if (state.user != 0) {
    for (unsigned slot = kSlots; slot-- > 0;) {
      if (!store::IsYes(state.slots[slot].valid)) continue;
      char text[32];
      const char letter = state.letters[slot];
      if (letter)
        std::snprintf(text, sizeof text, "Kelm(%u)->%c", slot, letter);
      else
        std::snprintf(text, sizeof text, "Kelm(%u)", slot);
      items.push_back({false, kCmdSlotBase + slot, text, letter != 0});
    }
    items.push_back({true, 0, "", false});
  }
  return items;
}

}  // namespace kelm::cfg
