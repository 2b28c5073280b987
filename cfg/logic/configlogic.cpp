#include "cfg/logic/configlogic.h"

#include <algorithm>

#include "common/textutil.h"

namespace kelm::cfg {

namespace {

std::string Lower(std::string_view s, std::size_t cap) {
  std::string r(s.substr(0, cap));
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

std::string ChainForm(std::string_view path) {
  std::string p = Lower(path, ImageOwnerTable::kMaxPath);
  if (!p.empty() && p.back() == '\\') p.pop_back();
  return p;
}

}  // namespace

bool ImageOwnerTable::Add(std::string_view user, std::string_view path) {
  const std::string name = Lower(user, kMaxUser);
  auto it = std::find_if(users_.begin(), users_.end(), [&](const User& u) { return u.name == name; });
  if (it == users_.end()) {
    users_.push_back({name, {}});
    it = users_.end() - 1;
  }
  if (it->paths.size() >= kMaxPaths) return false;
  it->paths.push_back(ChainForm(path));
  return true;
}

int ImageOwnerTable::OwnerOf(std::string_view user, std::string_view path) const {
  if (InRootDirectory(path)) return 3;
  const std::string p = ChainForm(path);
  const std::string name = Lower(user, kMaxUser);
  bool anybody = false;
  for (const User& u : users_) {
    if (std::find(u.paths.begin(), u.paths.end(), p) == u.paths.end()) continue;
    if (u.name == name) return 1;
    anybody = true;
  }
  return anybody ? 2 : 0;
}

bool InRootDirectory(std::string_view path) {
  const std::size_t slash = path.rfind('\\');
  return slash == std::string_view::npos || slash <= 2;
}

std::uint32_t SizeFieldForLength(std::uint64_t bytes) {
  const std::uint64_t mb = bytes / 1048576;
  if (mb <= 3) return 0;
  return mb - 3 > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(mb - 3);
}

int FindPrefix(const std::vector<std::string>& entries, std::string_view prefix) {
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string& e = entries[i];
    if (e.size() >= prefix.size() && EqualsNoCase(std::string_view(e).substr(0, prefix.size()), prefix))
      return static_cast<int>(i);
  }
  return -1;
}

SaveCheck CheckValidSlots(const SlotFields (&slots)[4]) {
  for (unsigned k = 0; k < 4; ++k) {
    if (!slots[k].valid) continue;
    if (slots[k].path.empty()) return {SlotProblem::EmptyPath, k};
    if (slots[k].sizeMb == 0) return {SlotProblem::ZeroSize, k};
  }
  return {};
}

MessageText SlotMessage(SlotProblem problem, unsigned slot, bool save) {
  static const char* const kPathKeys[2][4] = {{"cfgdlg_msg2", "cfgdlg_msg4", "cfgdlg_msg6", "cfgdlg_msg8"},
                                              {"cfgdlg_msg26", "cfgdlg_msg28", "cfgdlg_msg30", "cfgdlg_msg32"}};
  static const char* const kSizeKeys[2][4] = {{"cfgdlg_msg3", "cfgdlg_msg5", "cfgdlg_msg7", "cfgdlg_msg9"},
                                              {"cfgdlg_msg27", "cfgdlg_msg29", "cfgdlg_msg31", "cfgdlg_msg33"}};
  slot &= 3;
  const std::string n = std::to_string(slot + 1);
  if (problem == SlotProblem::EmptyPath)
    return {kPathKeys[save][slot], "Please input the file name of image file " + n + "."};
  return {kSizeKeys[save][slot], "Invalid image file size of file " + n + "."};
}

}  // namespace kelm::cfg
