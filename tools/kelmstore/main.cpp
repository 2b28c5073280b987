// kelmstore: users and slots of the disk configuration store (HKLM
// "SOFTWARE\kelm") written from the command line with the configuration
// program's own writer, so scripts can set up what the mount service reads.
//   kelmstore user ID [DELAY]
//   kelmstore slot ID N PATH SIZEMB PASSWORD [auto] [ro]
//   kelmstore delete ID
//   kelmstore list
//   kelmstore cfgpass PASSWORD
//   kelmstore login ID PASSWORD
// Exit codes: 0 done, 1 failed, 2 usage.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "common/storefields.h"
#include "common/win32/cfgpassword.h"
#include "common/win32/diskstore.h"
#include "common/win32/handles.h"

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr std::size_t kMaxDelayChars = 9;

const char kUsageText[] =
    "usage:\n"
    "  kelmstore user ID [DELAY]\n"
    "  kelmstore slot ID N PATH SIZEMB PASSWORD [auto] [ro]\n"
    "  kelmstore delete ID\n"
    "  kelmstore list\n"
    "  kelmstore cfgpass PASSWORD\n"
    "  kelmstore login ID PASSWORD\n"
    "N is the slot index 0 to 3; DELAY the key-loss delay in seconds (at most\n"
    "9 digits); PASSWORD may be \"\" for none. auto and ro set AutoMount and\n"
    "ReadOnly to \"yes\" (otherwise \"no\"). cfgpass sets the configuration\n"
    "password the way setup does (at most 8 characters are kept); login the\n"
    "log-in password of a software installation's user (\"PAS\").\n"
    "exit codes: 0 done, 1 failed, 2 usage\n";

int Usage(const char* why) {
  if (why) std::fprintf(stderr, "kelmstore: %s\n", why);
  std::fputs(kUsageText, stderr);
  return kUsage;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "kelmstore: %s\n", message.c_str());
  return kFailed;
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Decimal text of an unsigned 32-bit number, nothing else.
bool ParseUint32(std::string_view s, std::uint32_t& value) {
  if (!AllDigits(s) || s.size() > 10) return false;
  std::uint64_t v = 0;
  for (char c : s) v = v * 10 + static_cast<unsigned>(c - '0');
  if (v > 0xFFFFFFFFu) return false;
  value = static_cast<std::uint32_t>(v);
  return true;
}

// A key name: a backslash would name a nested key, and the registry refuses
// names longer than 255 characters.
bool ValidUserId(std::string_view id) {
  return !id.empty() && id.size() <= 255 && id.find('\\') == std::string_view::npos;
}

std::string ErrorText(LONG err) { return "registry error " + std::to_string(err); }

int CmdUser(int argc, char** argv) {
  if (argc < 3 || argc > 4) return Usage("user needs ID and an optional DELAY");
  const char* id = argv[2];
  if (!ValidUserId(id)) return Usage("ID must be a non-empty key name without a backslash");
  const char* delay = argc == 4 ? argv[3] : nullptr;
  if (delay && (!AllDigits(delay) || std::strlen(delay) > kMaxDelayChars))
    return Usage("DELAY must be 1 to 9 decimal digits");
  if (!kelm::win::EnsureRoot()) return Fail("cannot open or create HKLM\\SOFTWARE\\kelm");
  if (LONG err = kelm::win::EnsureUser(id)) return Fail("cannot create user " + std::string(id) + ": " + ErrorText(err));
  if (delay) {
    if (LONG err = kelm::win::SetText(id, "delay", delay))
      return Fail("cannot write \"delay\" of user " + std::string(id) + ": " + ErrorText(err));
  }
  std::printf("user %s%s%s\n", id, delay ? " delay " : "", delay ? delay : "");
  return kDone;
}

int CmdSlot(int argc, char** argv) {
  if (argc < 7 || argc > 9) return Usage("slot needs ID N PATH SIZEMB PASSWORD [auto] [ro]");
  const char* id = argv[2];
  if (!ValidUserId(id)) return Usage("ID must be a non-empty key name without a backslash");
  std::uint32_t slot = 0, sizeMb = 0;
  if (!ParseUint32(argv[3], slot)) return Usage("N is not a number");
  if (!ParseUint32(argv[5], sizeMb)) return Usage("SIZEMB is not a number");
  kelm::win::SlotSettings s;
  s.valid = true;
  s.imagePath = argv[4];
  s.sizeMb = sizeMb;
  s.password = argv[6];
  for (int i = 7; i < argc; ++i) {
    if (std::strcmp(argv[i], "auto") == 0)
      s.autoMount = true;
    else if (std::strcmp(argv[i], "ro") == 0)
      s.readOnly = true;
    else
      return Usage("only the words auto and ro may follow PASSWORD");
  }
  // SaveSlot writes "delay" on every save; keep what the user has (a new
  // user gets the default, as in the configuration dialog).
  char delay[kelm::store::kTextReadLimit] = {};
  kelm::win::GetText(id, "delay", delay, sizeof delay);
  using R = kelm::win::SaveSlotResult;
  switch (kelm::win::SaveSlot(id, slot, s, delay, nullptr)) {
    case R::Saved:
      std::printf("user %s slot %u saved\n", id, static_cast<unsigned>(slot));
      return kDone;
    case R::BadSlot:
      return Fail("slot " + std::to_string(slot) + " refused: slots are 0 to 3");
    case R::PathTooLong:
      return Fail("path refused: " + std::to_string(s.imagePath.size()) +
                  " characters, at most 149 can be read back");
    case R::PasswordTooLong:
      return Fail("password refused: at most 9 characters");
    case R::NoStore:
      return Fail("cannot open or create HKLM\\SOFTWARE\\kelm");
  }
  return Fail("unexpected result of the slot save");
}

int CmdDelete(int argc, char** argv) {
  if (argc != 3) return Usage("delete needs ID");
  const char* id = argv[2];
  if (!ValidUserId(id)) return Usage("ID must be a non-empty key name without a backslash");
  if (LONG err = kelm::win::DeleteUser(id))
    return Fail("cannot delete user " + std::string(id) + ": " + ErrorText(err));
  // Slot saves also made the user's image protection list; it goes with the
  // user (missing is fine).
  kelm::win::RegKey buildin;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kelm::store::kBuildinKey, 0, KEY_ALL_ACCESS, buildin.put()) ==
      ERROR_SUCCESS)
    RegDeleteKeyA(buildin.get(), id);
  std::printf("user %s deleted\n", id);
  return kDone;
}

int CmdList(int argc) {
  if (argc != 2) return Usage("list takes no arguments");
  for (const std::string& user : kelm::win::ListUsers()) std::printf("%s\n", user.c_str());
  return kDone;
}

int CmdConfigPassword(int argc, char** argv) {
  if (argc != 3) return Usage("cfgpass needs PASSWORD");
  switch (kelm::win::SaveConfigPassword(argv[2])) {
    case kelm::win::SavePasswordResult::Ok: return kDone;
    case kelm::win::SavePasswordResult::StampFileError: return Fail("the stamp file cannot be written");
    case kelm::win::SavePasswordResult::RegistryError: return Fail("the registry record cannot be written");
    case kelm::win::SavePasswordResult::RefusedKey: return Fail("this password cannot be used");
  }
  return kFailed;
}

int CmdLogin(int argc, char** argv) {
  if (argc != 4) return Usage("login needs ID and PASSWORD");
  if (!ValidUserId(argv[2])) return Usage("bad ID");
  std::uint8_t field[kelm::store::kLoginPassField];
  if (!kelm::store::EncodeLoginPassword(argv[3], field)) return Fail("this password cannot be stored");
  const LONG err = kelm::win::SetBytes(argv[2], "PAS", field, sizeof field);
  return err == ERROR_SUCCESS ? kDone : Fail(ErrorText(err));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(nullptr);
  const std::string_view cmd = argv[1];
  if (cmd == "user") return CmdUser(argc, argv);
  if (cmd == "slot") return CmdSlot(argc, argv);
  if (cmd == "delete") return CmdDelete(argc, argv);
  if (cmd == "list") return CmdList(argc);
  if (cmd == "cfgpass") return CmdConfigPassword(argc, argv);
  if (cmd == "login") return CmdLogin(argc, argv);
  return Usage("unknown command");
}
