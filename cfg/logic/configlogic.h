// The configuration dialog's rules that need no window: who owns an image
// file, the user list's prefix search, the size a chosen file gives, and
// which slot's fields stop a save.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelm::cfg {

// Every user's existing image files, lower case, for the browse checks.
class ImageOwnerTable {
 public:
  static constexpr std::size_t kMaxPaths = 511;
  static constexpr std::size_t kMaxPath = 259;
  static constexpr std::size_t kMaxUser = 50;

  void Clear() { users_.clear(); }
  // Adds a path of user (texts cut and lower-cased, a trailing backslash
  // removed); false when the user already holds kMaxPaths paths.
  bool Add(std::string_view user, std::string_view path);

  // 3: the path's directory part has 2 characters or fewer (a root
  // directory); 1: among user's paths; 2: among anybody's; 0: nobody's.
  int OwnerOf(std::string_view user, std::string_view path) const;

 private:
  struct User {
    std::string name;
    std::vector<std::string> paths;
  };
  std::vector<User> users_;
};

// The path's directory part (before its last backslash) has 2 characters
// or fewer: "C:\x.img" and "x.img" are in a root directory.
bool InRootDirectory(std::string_view path);

// The size field for a chosen file: its length in whole MB minus 3, 0 when
// that is not above 0.
std::uint32_t SizeFieldForLength(std::uint64_t bytes);

// Index of the first entry that begins with prefix, ignoring case; -1 when
// none does (the list's own prefix search).
int FindPrefix(const std::vector<std::string>& entries, std::string_view prefix);

// A slot's fields as the save checks see them.
struct SlotFields {
  bool valid = false;
  std::string path;
  std::uint32_t sizeMb = 0;
};

enum class SlotProblem { None, EmptyPath, ZeroSize };

struct SaveCheck {
  SlotProblem problem = SlotProblem::None;
  unsigned slot = 0;  // 0..3, the first slot with a problem
};

// The check before a slot is written: the first valid slot with an empty
// path or a size of 0, in slot order.
SaveCheck CheckValidSlots(const SlotFields (&slots)[4]);

// Key and built-in text of a slot's message; save = the Save button's keys,
// otherwise the keys of the save that Create and Delete share.
struct MessageText {
  const char* key;
  std::string text;
};
MessageText SlotMessage(SlotProblem problem, unsigned slot, bool save);

}  // namespace kelm::cfg
