// The shell extension's protection chain and its registry steps, over a
// map-backed user key with failure injection.
#include "shellext/logic/chain.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>

using namespace kelm::shx;

namespace {

struct MapStore : ValueStore {
  std::map<std::string, std::string> values;
  std::set<std::string> failWrites;
  int writes = 0;
  bool Read(const char* name, char* buf, std::size_t size) override {
    std::memset(buf, 0, size + 1);
    auto it = values.find(name);
    if (it == values.end() || it->second.size() > size) return false;  // ERROR_MORE_DATA
    std::memcpy(buf, it->second.data(), it->second.size());
    return true;
  }
  bool Write(const char* name, std::string_view text) override {
    if (failWrites.count(name)) return false;
    ++writes;
    values[name] = std::string(text);
    return true;
  }
};

MapStore UserWith(const char* lockfile, std::initializer_list<std::pair<const char*, const char*>> list,
                  const char* fileNum = nullptr) {
  MapStore s;
  if (lockfile) s.values["lockfile"] = lockfile;
  unsigned k = 0;
  for (auto& [level, name] : list) {
    s.values["filelevel" + std::to_string(k)] = level;
    s.values["filename" + std::to_string(k)] = name;
    ++k;
  }
  s.values["fileNum"] = fileNum ? fileNum : std::to_string(k);
  return s;
}

}  // namespace

TEST(ShxChain, Comparisons) {
  struct {
    const char *a, *b;
    std::size_t len;
    bool eq;
  } eqs[] = {{"yes", "yes", 3, true},   {"YES", "yes", 3, true}, {"yes ", "yes", 3, false},
             {"ye", "yes", 3, false},   {"", "", 0, true},       {"1234", "12345", 4, true},
             {"1234", "123", 4, false}, {"no", "yes", 3, false}};
  for (const auto& c : eqs) EXPECT_EQ(isEqual(c.a, c.b, c.len), c.eq) << c.a << "|" << c.b;

  struct {
    const char *entry, *path;
    bool match;
  } paths[] = {{"c:\\data\\x.txt", "c:\\data", true},   {"c:\\data\\x.txt", "C:\\DATA", true},
               {"c:\\data\\x.txt", "c:\\dat", false},   {"c:\\data", "c:\\data", true},
               {"c:\\data", "c:\\data\\x.txt", false},  {"c:\\data2", "c:\\data", false},
               {"c:\\data\\sub\\y", "c:\\data\\sub", true}, {"", "c:\\a", false}};
  for (const auto& c : paths) EXPECT_EQ(isEqualPath(c.entry, c.path), c.match) << c.entry << "|" << c.path;
}

TEST(ShxChain, AddCutsLowersAndDropsOneTrailingBackslash) {
  ProtectionChain c;
  ASSERT_TRUE(c.Add("1234", "1", "C:\\Data\\"));
  ASSERT_TRUE(c.Add("1234", "123456789", std::string(300, 'P') + "\\"));
  ASSERT_TRUE(c.Add(std::string(60, 'U'), "2", "C:\\x\\\\"));
  ASSERT_EQ(c.Records().size(), 2u);
  const UserRecord& r = c.Records()[0];
  EXPECT_EQ(r.keyId, "1234");
  EXPECT_EQ(r.entries[0].path, "c:\\data");
  EXPECT_EQ(r.entries[0].level, "1");
  // Cut to 259 first: the backslash at 301 is gone already.
  EXPECT_EQ(r.entries[1].path, std::string(259, 'p'));
  EXPECT_EQ(r.entries[1].level, "12345");
  EXPECT_EQ(c.Records()[1].keyId, std::string(50, 'u'));
  EXPECT_EQ(c.Records()[1].entries[0].path, "c:\\x\\");
  // Same user in another case joins its record.
  ASSERT_TRUE(c.Add("ABC", "1", "a"));
  ASSERT_TRUE(c.Add("abc", "1", "b"));
  EXPECT_EQ(c.Records().size(), 3u);
}

TEST(ShxChain, FullListRefusesThe512th) {
  ProtectionChain c;
  for (unsigned i = 0; i < 511; ++i) ASSERT_TRUE(c.Add("7", "1", "c:\\f" + std::to_string(i)));
  EXPECT_FALSE(c.Add("7", "1", "c:\\more"));
  EXPECT_TRUE(c.Add("8", "1", "c:\\more"));
  EXPECT_EQ(c.EntryCount(), 512u);
}

TEST(ShxChain, RemoveFirstMatchOnly) {
  ProtectionChain c;
  c.Add("1234", "1", "c:\\a");
  c.Add("1234", "2", "c:\\b");
  c.Add("1234", "2", "c:\\a");
  c.Add("99", "1", "c:\\b");
  c.Remove("1234", "C:\\A");
  const UserRecord* r = c.Find("1234");
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->entries.size(), 2u);
  EXPECT_EQ(r->entries[0].path, "c:\\b");
  EXPECT_EQ(r->entries[0].level, "2");
  EXPECT_EQ(r->entries[1].path, "c:\\a");
  c.Remove("1234", "c:\\data");  // not there: nothing
  c.Remove("5", "c:\\b");
  EXPECT_EQ(c.EntryCount(), 3u);
  c.Remove("1234", "c:\\b\\sub");  // containment is not equality
  EXPECT_EQ(c.EntryCount(), 3u);
}

TEST(ShxChain, LockStatusAndOwner) {
  ProtectionChain c;
  c.Add("1234", "2", "C:\\Data\\x.txt");
  c.Add("1234", "1", "c:\\mine");
  c.Add("99", "1", "c:\\other\\deep\\f");
  struct {
    const char* path;
    bool other, me;
    const char *owner, *level;
  } cases[] = {
      {"c:\\data\\x.txt", false, true, "1234", "2"}, {"C:\\DATA", false, true, "1234", "2"},
      {"c:\\dat", false, false, nullptr, nullptr},  {"c:\\mine\\inner.txt", false, false, nullptr, nullptr},
      {"c:\\mine", false, true, "1234", "1"},        {"c:\\other", true, false, "99", "1"},
      {"c:\\", false, false, nullptr, nullptr},     {"c:", true, true, "1234", "2"},
  };
  for (const auto& k : cases) {
    LockStatus s = c.Check("1234", k.path);
    EXPECT_EQ(s.byOther, k.other) << k.path;
    EXPECT_EQ(s.byMe, k.me) << k.path;
    std::string owner = "stale", level = "stale";
    EXPECT_EQ(c.Owner(k.path, owner, level), k.owner != nullptr) << k.path;
    if (k.owner) {
      EXPECT_EQ(owner, k.owner);
      EXPECT_EQ(level, k.level);
    }
  }
  EXPECT_TRUE(c.Check("99", "c:\\other\\deep").byMe);
}

TEST(ShxChain, TraceLines) {
  ProtectionChain c;
  c.Add("1234", "1", "c:\\a");
  c.Add("5", "2", "c:\\b");
  auto lines = ChainTraceLines(c);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "FileToBeMonitored = User=1234 Level=1 File=c:\\a\n");
  EXPECT_EQ(lines[1], "FileToBeMonitored = User=5 Level=2 File=c:\\b\n");
  c.Clear();
  EXPECT_TRUE(ChainTraceLines(c).empty());
}

TEST(ShxChain, LoadUserList) {
  struct Case {
    const char* name;
    MapStore store;
    std::size_t entries;
  };
  MapStore big = UserWith("yes", {}, "600");
  for (unsigned k = 0; k < 600; ++k) {
    big.values["filelevel" + std::to_string(k)] = "1";
    big.values["filename" + std::to_string(k)] = "c:\\f" + std::to_string(k);
  }
  MapStore gap = UserWith("yes", {{"1", "c:\\a"}, {"2", "c:\\b"}, {"1", "c:\\c"}});
  gap.values.erase("filename1");
  MapStore longName = UserWith("yes", {{"1", std::string(499, 'n').c_str()}});
  MapStore tooLong = UserWith("yes", {{"1", "c:\\a"}, {"1", std::string(500, 'n').c_str()}});
  MapStore noCount = UserWith("yes", {{"1", "c:\\a"}});
  noCount.values.erase("fileNum");
  Case cases[] = {
      {"YES", UserWith("YES", {{"1", "c:\\a"}}), 1},
      {"yes with blank", UserWith("yes ", {{"1", "c:\\a"}}), 0},
      {"no", UserWith("no", {{"1", "c:\\a"}}), 0},
      {"missing lockfile", UserWith(nullptr, {{"1", "c:\\a"}}), 0},
      {"fileNum 0", UserWith("yes", {{"1", "c:\\a"}}, "0"), 0},
      {"fileNum missing", noCount, 0},
      {"fileNum 600", big, 511},
      {"gap stops the list", gap, 1},
      {"499-byte name", longName, 1},
      {"500-byte name unreadable", tooLong, 1},
      {"count above the pairs", UserWith("yes", {{"1", "c:\\a"}}, "3"), 1},
  };
  for (Case& k : cases) {
    ProtectionChain c;
    LoadUserList(c, "1234", k.store);
    EXPECT_EQ(c.EntryCount(), k.entries) << k.name;
  }
  ProtectionChain c;
  MapStore s = UserWith("yes", {{"1", "C:\\Data\\"}, {"1234567", "d:\\x"}});
  LoadUserList(c, "1234", s);
  ASSERT_EQ(c.EntryCount(), 2u);
  EXPECT_EQ(c.Records()[0].entries[0].path, "c:\\data");
  EXPECT_EQ(c.Records()[0].entries[1].level, "12345");
  EXPECT_EQ(c.Records()[0].entries[0].path.size(), 7u);
  ProtectionChain l;
  LoadUserList(l, "1234", longName);
  EXPECT_EQ(l.Records()[0].entries[0].path.size(), 259u);
}

TEST(ShxChain, AppendStoredEntry) {
  MapStore s = UserWith("Yes", {{"1", "c:\\a"}});
  ASSERT_TRUE(AppendStoredEntry(s, 2, "C:\\New Folder"));
  EXPECT_EQ(s.values["filelevel1"], "2");
  EXPECT_EQ(s.values["filename1"], "C:\\New Folder");
  EXPECT_EQ(s.values["fileNum"], "2");

  MapStore noCount = UserWith("yes", {});
  noCount.values.erase("fileNum");
  ASSERT_TRUE(AppendStoredEntry(noCount, 1, "c:\\x"));
  EXPECT_EQ(noCount.values["filename0"], "c:\\x");
  EXPECT_EQ(noCount.values["fileNum"], "1");

  MapStore off = UserWith("no", {});
  EXPECT_FALSE(AppendStoredEntry(off, 1, "c:\\x"));
  EXPECT_EQ(off.writes, 0);

  MapStore full = UserWith("yes", {}, "511");
  EXPECT_FALSE(AppendStoredEntry(full, 1, "c:\\x"));
  EXPECT_EQ(full.writes, 0);

  // A failed write leaves what was written so far and reports failure.
  MapStore failName = UserWith("yes", {});
  failName.failWrites.insert("filename0");
  EXPECT_FALSE(AppendStoredEntry(failName, 1, "c:\\x"));
  EXPECT_EQ(failName.values["filelevel0"], "1");
  EXPECT_EQ(failName.values["fileNum"], "0");
}

TEST(ShxChain, RewriteStoredList) {
  // Removing entry 0 of a two-entry list.
  MapStore s = UserWith("yes", {{"1", "c:\\a"}, {"2", "c:\\b"}});
  ProtectionChain c;
  LoadUserList(c, "1234", s);
  c.Remove("1234", "c:\\a");
  EXPECT_TRUE(RewriteStoredList(s, c, "1234"));
  EXPECT_EQ(s.values["filename0"], "c:\\b");
  EXPECT_EQ(s.values["filelevel0"], "2");
  EXPECT_EQ(s.values["fileNum"], "1");
  EXPECT_EQ(s.values["filename1"], "c:\\b");  // left, unread
  EXPECT_EQ(s.values["filelevel1"], "2");

  // lockfile no longer "yes": the count is 0 and nothing else is written.
  MapStore off = UserWith("no", {{"1", "c:\\a"}});
  EXPECT_FALSE(RewriteStoredList(off, c, "1234"));
  EXPECT_EQ(off.values["fileNum"], "0");
  EXPECT_EQ(off.writes, 1);

  // No record for the user: the list stays empty, the monitor is told.
  MapStore none = UserWith("yes", {{"1", "c:\\a"}});
  EXPECT_TRUE(RewriteStoredList(none, c, "77"));
  EXPECT_EQ(none.values["fileNum"], "0");

  MapStore fail = UserWith("yes", {{"1", "c:\\a"}});
  fail.failWrites.insert("filename0");
  EXPECT_FALSE(RewriteStoredList(fail, c, "1234"));
  EXPECT_EQ(fail.values["fileNum"], "0");
}

TEST(ShxChain, MenuHelpers) {
  struct {
    const char *path, *bare;
  } names[] = {{"C:\\work\\a.doc", "a.doc"}, {"D:\\", ""}, {"C:\\work", "work"}, {"noslash", "noslash"}, {"", ""}};
  for (const auto& n : names) EXPECT_EQ(BareName(n.path), n.bare) << n.path;

  EXPECT_TRUE(UnderDirectory("c:\\WINDOWS\\system32\\x.dll", "C:\\windows"));
  EXPECT_TRUE(UnderDirectory("C:\\windowsfoo", "C:\\windows"));  // over the directory's length, as designed
  EXPECT_FALSE(UnderDirectory("C:\\win", "C:\\windows"));
  EXPECT_FALSE(UnderDirectory("C:\\x", ""));

  struct {
    const char *fmt, *arg, *out;
  } fmts[] = {{"Set [%s] as my private file(Full Protection)", "a.doc", "Set [a.doc] as my private file(Full Protection)"},
              {"%s%s", "x", "xx"},
              {"100%% %d %n %", "a", "100% %d %n %"},
              {"no arg", "a", "no arg"}};
  for (const auto& f : fmts) EXPECT_EQ(FormatWithText(f.fmt, f.arg), f.out) << f.fmt;

  struct {
    std::uint32_t letters;
    std::vector<std::pair<char, unsigned>> targets;
  } drives[] = {{0, {}},
                {0x00004500, {{'E', 4}}},
                {0x00470045, {{'E', 4}, {'G', 5}}},
                {0x48474645, {{'E', 4}, {'F', 5}, {'G', 6}, {'H', 7}}},
                {0x5A000000, {{'Z', 4}}}};
  for (const auto& d : drives) {
    auto t = CopyTargets(d.letters);
    ASSERT_EQ(t.size(), d.targets.size()) << std::hex << d.letters;
    for (std::size_t i = 0; i < t.size(); ++i) {
      EXPECT_EQ(t[i].letter, d.targets[i].first);
      EXPECT_EQ(t[i].offset, d.targets[i].second);
    }
  }
  EXPECT_EQ(CopyDestination("C:\\work\\a.doc", 'E'), "E:\\work\\a.doc");
  EXPECT_EQ(CopyDestination("", 'E'), "");
}
