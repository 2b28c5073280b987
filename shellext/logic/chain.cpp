#include "shellext/logic/chain.h"

#include <cstdio>
#include <new>

#include "common/protection.h"
#include "common/storefields.h"
#include "common/textutil.h"

namespace kelm::shx {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerCut(std::string_view s, std::size_t cap) {
  std::string out(s.substr(0, cap));
  for (char& c : out) c = Lower(c);
  return out;
}

// Value texts end at their first zero, as a C reader sees them.
std::string_view Text(const char* buf) { return std::string_view(buf); }

}  // namespace

bool isEqual(std::string_view a, std::string_view b, std::size_t len) {
  return a.size() == len && b.size() >= len && EqualsNoCase(a, b.substr(0, len));
}

bool isEqualPath(std::string_view entry, std::string_view path) {
  const std::size_t len = path.size();
  if (entry.size() < len || !EqualsNoCase(entry.substr(0, len), path)) return false;
  return entry.size() == len || entry[len] == '\\';
}

bool ProtectionChain::Add(std::string_view user, std::string_view level, std::string_view path) noexcept {
  try {
    std::string p = LowerCut(path, kMaxChainPath);
    if (!p.empty() && p.back() == '\\') p.pop_back();
    std::string l = LowerCut(level, kMaxChainLevel);
    std::string u = LowerCut(user, kMaxChainUser);
    for (UserRecord& r : records_) {
      if (!isEqual(r.keyId, u, u.size())) continue;
      if (r.entries.size() >= kMaxChainEntries) return false;
      r.entries.push_back(ChainEntry{std::move(l), std::move(p)});
      return true;
    }
    UserRecord r;
    r.keyId = std::move(u);
    r.entries.push_back(ChainEntry{std::move(l), std::move(p)});
    records_.push_back(std::move(r));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void ProtectionChain::Remove(std::string_view user, std::string_view path) noexcept {
  for (UserRecord& r : records_) {
    if (!EqualsNoCase(r.keyId, user)) continue;
    for (auto it = r.entries.begin(); it != r.entries.end(); ++it) {
      if (EqualsNoCase(it->path, path)) {
        r.entries.erase(it);
        return;
      }
    }
    return;
  }
}

LockStatus ProtectionChain::Check(std::string_view current, std::string_view path) const noexcept {
  LockStatus s;
  for (const UserRecord& r : records_) {
    bool counts = false;
    for (const ChainEntry& e : r.entries)
      if (EqualsNoCase(e.path, path) || isEqualPath(e.path, path)) {
        counts = true;
        break;
      }
    if (!counts) continue;
    if (EqualsNoCase(r.keyId, current))
      s.byMe = true;
    else
      s.byOther = true;
  }
  return s;
}

bool ProtectionChain::Owner(std::string_view path, std::string& owner, std::string& level) const noexcept {
  try {
    for (const UserRecord& r : records_)
      for (const ChainEntry& e : r.entries)
        if (EqualsNoCase(e.path, path) || isEqualPath(e.path, path)) {
          owner = r.keyId;
          level = e.level;
          return true;
        }
  } catch (const std::bad_alloc&) {
  }
  return false;
}

const UserRecord* ProtectionChain::Find(std::string_view user) const noexcept {
  for (const UserRecord& r : records_)
    if (EqualsNoCase(r.keyId, user)) return &r;
  return nullptr;
}

std::size_t ProtectionChain::EntryCount() const noexcept {
  std::size_t n = 0;
  for (const UserRecord& r : records_) n += r.entries.size();
  return n;
}

std::vector<std::string> ChainTraceLines(const ProtectionChain& chain) {
  std::vector<std::string> out;
  for (const UserRecord& r : chain.Records())
    for (const ChainEntry& e : r.entries)
      out.push_back("FileToBeMonitored = User=" + r.keyId + " Level=" + e.level + " File=" + e.path + "\n");
  return out;
}

bool LockFileEnabled(ValueStore& store) {
  char buf[kFlagRead + 1];
  return store.Read(protect::kLockFileValue, buf, kFlagRead) && isEqual(Text(buf), "yes", 3);
}

void LoadUserList(ProtectionChain& chain, std::string_view user, ValueStore& store) {
  if (!LockFileEnabled(store)) return;
  char count[kFlagRead + 1];
  if (!store.Read(protect::kFileNumValue, count, kFlagRead)) return;
  const unsigned n = protect::EntryCount(Text(count));
  char level[kLevelRead + 1], name[kNameRead + 1];
  for (unsigned k = 0; k < n; ++k) {
    if (!store.Read(store::SlotValueName(protect::kLevelValueBase, k).text, level, kLevelRead) ||
        !store.Read(store::SlotValueName(protect::kNameValueBase, k).text, name, kNameRead))
      return;
    if (!chain.Add(user, Text(level), Text(name))) return;
  }
}

bool AppendStoredEntry(ValueStore& store, unsigned level, std::string_view path) {
  if (!LockFileEnabled(store)) return false;
  char count[kFlagRead + 1];
  const unsigned n = store.Read(protect::kFileNumValue, count, kFlagRead) ? protect::EntryCount(Text(count)) : 0;
  if (n >= kMaxChainEntries) return false;
  char text[16];
  std::snprintf(text, sizeof text, "%u", level);
  if (!store.Write(store::SlotValueName(protect::kLevelValueBase, n).text, text)) return false;
  if (!store.Write(store::SlotValueName(protect::kNameValueBase, n).text, path)) return false;
  std::snprintf(text, sizeof text, "%u", n + 1);
  return store.Write(protect::kFileNumValue, text);
}

bool RewriteStoredList(ValueStore& store, const ProtectionChain& chain, std::string_view user) {
  if (!store.Write(protect::kFileNumValue, "0")) return false;
  if (!LockFileEnabled(store)) return false;
  const UserRecord* r = chain.Find(user);
  if (r == nullptr) return true;
  unsigned i = 0;
  for (const ChainEntry& e : r->entries) {
    if (!store.Write(store::SlotValueName(protect::kLevelValueBase, i).text, e.level) ||
        !store.Write(store::SlotValueName(protect::kNameValueBase, i).text, e.path))
      return false;
    ++i;
  }
  char text[16];
  std::snprintf(text, sizeof text, "%u", i);
  return store.Write(protect::kFileNumValue, text);
}

std::string_view BareName(std::string_view path) {
  const std::size_t slash = path.rfind('\\');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool UnderDirectory(std::string_view path, std::string_view dir) {
  return !dir.empty() && path.size() >= dir.size() && EqualsNoCase(path.substr(0, dir.size()), dir);
}

std::string FormatWithText(std::string_view format, std::string_view arg) {
  std::string out;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      if (format[i + 1] == 's') {
        out.append(arg);
        ++i;
        continue;
      }
      if (format[i + 1] == '%') {
        out.push_back('%');
        ++i;
        continue;
      }
    }
    out.push_back(format[i]);
  }
  return out;
}

std::vector<CopyTarget> CopyTargets(std::uint32_t letters) {
  std::vector<CopyTarget> out;
  unsigned offset = 4;
  for (unsigned slot = 0; slot < 4; ++slot) {
    const char c = static_cast<char>((letters >> (8 * slot)) & 0xFF);
    if (c != 0) out.push_back(CopyTarget{c, offset++});
  }
  return out;
}

std::string CopyDestination(std::string_view source, char letter) {
  if (source.empty()) return {};
  std::string d(source);
  d[0] = letter;
  return d;
}

}  // namespace kelm::shx
