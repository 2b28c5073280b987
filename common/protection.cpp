#include "common/protection.h"

#include <cstring>

#include "common/textutil.h"

namespace kelm::protect {

unsigned EntryCount(std::string_view fileNum) {
  // Parsed on its own so that a huge or negative text cannot wrap below 511.
  std::size_t i = 0;
  while (i < fileNum.size() && (fileNum[i] == ' ' || (fileNum[i] >= '\t' && fileNum[i] <= '\r'))) ++i;
  if (i < fileNum.size() && (fileNum[i] == '+' || fileNum[i] == '-')) {
    if (fileNum[i] == '-') return 0;
    ++i;
  }
  unsigned n = 0;
  for (; i < fileNum.size() && fileNum[i] >= '0' && fileNum[i] <= '9'; ++i) {
    n = n * 10u + static_cast<unsigned>(fileNum[i] - '0');
    if (n > kMaxEntries) return kMaxEntries;
  }
  return n;
}

int DecorationLevel(std::string_view levelText) {
  return ParseDecimal(levelText) == 1u ? kFullProtection : kGeneralProtection;
}

std::vector<Entry> RewriteEntries(const std::vector<Entry>& rows) {
  std::vector<Entry> out;
  out.reserve(rows.size());
  for (const Entry& r : rows)
    if (!r.path.empty()) out.push_back(r);
  return out;
}

const char* LevelIconName(int level) {
  return level == kFullProtection ? "\\lockfld1.ico" : "\\lockfld2.ico";
}

bool JoinPath(std::string_view dir, std::string_view name, char* out, std::size_t cap) {
  if (cap == 0) return false;
  out[0] = '\0';
  if (dir.size() + name.size() >= cap) return false;
  std::memcpy(out, dir.data(), dir.size());
  std::memcpy(out + dir.size(), name.data(), name.size());
  out[dir.size() + name.size()] = '\0';
  return true;
}

bool DesktopIniPath(std::string_view folder, char* out, std::size_t cap) {
  const bool slash = !folder.empty() && folder.back() == '\\';
  return JoinPath(folder, slash ? "Desktop.ini" : "\\Desktop.ini", out, cap);
}

void DecorationValues(bool decorated, const char* iconFile, IniValue (&out)[kDecorationValues]) {
  out[0] = {"IconFile", decorated && iconFile != nullptr ? iconFile : ""};
  out[1] = {"ConfirmFileOp", "0"};
  out[2] = {"NoSharing", "1"};
  out[3] = {"IconIndex", "0"};
  out[4] = {"InfoTip", decorated ? kLockedTip : "No"};
}

}  // namespace kelm::protect
