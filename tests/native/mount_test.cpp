// The attach and dismount sequences against a model of the virtual disk
// driver and the DOS device table: every failure point of both sequences
// must leave no link, definition, attached image or open handle behind.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "service/logic/dispatch.h"
#include "service/logic/mount.h"
#include "service/logic/svclog.h"

namespace svc = kelm::svc;
namespace dev = kelm::dev;
using Calls = std::vector<std::string>;

namespace {

std::uint32_t Bit(char letter) { return 1u << (letter - 'A'); }

struct Attached {
  char letter;
  std::string name;
  bool readOnly;
  std::string password;
  std::uint32_t bytes;
};

class ModelEnvironment final : public svc::MountEnvironment {
 public:
  int platform = svc::kPlatformXp;
  std::uint32_t baseDrives = Bit('A') | Bit('C');
  std::set<std::string> failing;         // step names that fail
  std::set<std::string> directories;     // image paths that are directories
  std::map<std::uint32_t, kelm::store::StoredUser> users;
  std::map<char, unsigned> links, definitions;
  std::map<unsigned, Attached> attached;
  bool controlOpen = false;
  char volume = 0;  // letter of the open volume
  Calls calls, logs;

  int PlatformVersion() override { return platform; }
  std::uint32_t LogicalDrives() override {
    std::uint32_t m = baseDrives;
    for (auto& l : links) m |= Bit(l.first);
    for (auto& d : definitions) m |= Bit(d.first);
    return m;
  }
  bool ImageFileUsable(const char* path) override { return !directories.count(path); }
  bool ReadUser(std::uint32_t id, kelm::store::StoredUser& out) override {
    auto it = users.find(id);
    out = it == users.end() ? kelm::store::StoredUser{} : it->second;
    return it != users.end();
  }
  bool OpenControl() override {
    calls.push_back("OpenControl");
    if (Fails("OpenControl")) return false;
    EXPECT_FALSE(controlOpen);
    return controlOpen = true;
  }
  void CloseControl() override {
    calls.push_back("CloseControl");
    EXPECT_TRUE(controlOpen);
    controlOpen = false;
  }
  bool OpenVolume(char letter) override {
    calls.push_back(std::string("OpenVolume ") + letter);
    EXPECT_EQ(volume, 0);
    if (Fails("OpenVolume") || (!links.count(letter) && !definitions.count(letter))) return false;
    volume = letter;
    return true;
  }
  void CloseVolume() override {
    calls.push_back("CloseVolume");
    EXPECT_NE(volume, 0);
    volume = 0;
  }
  bool ControlRequest(std::uint32_t code, const std::uint8_t* in, std::uint32_t len) override {
    EXPECT_TRUE(controlOpen);
    return Request("control", code, in, len);
  }
  bool VolumeRequest(std::uint32_t code, const std::uint8_t* in, std::uint32_t len) override {
    EXPECT_NE(volume, 0);
    return Request("volume", code, in, len);
  }
  bool LetterDefined(char letter) override { return definitions.count(letter) != 0; }
  bool DefineLetter(char letter, unsigned slot) override {
    calls.push_back(std::string("Define ") + letter + " Kelm" + std::to_string(slot));
    if (Fails("Define") || definitions.count(letter)) return false;
    definitions[letter] = slot;
    return true;
  }
  void RemoveDefinition(char letter) override {
    calls.push_back(std::string("RemoveDefinition ") + letter);
    definitions.erase(letter);
  }
  void Log(std::string_view m) override { logs.emplace_back(m); }

  bool Clean() const {
    return links.empty() && definitions.empty() && attached.empty() && !controlOpen && volume == 0;
  }

 private:
  bool Fails(const char* step) const { return failing.count(step) != 0; }

  bool Request(const char* to, std::uint32_t code, const std::uint8_t* in, std::uint32_t len) {
    std::string c = to;
    auto two = [&] { return std::string(1, char(in[0])) + char(in[1]); };
    switch (code) {
      case dev::IOCTL_CREATE_SYM_LINK:
        EXPECT_EQ(len, 2u);
        calls.push_back(c + " CreateLink " + two());
        if (Fails("CreateLink")) return false;
        links[char(in[0])] = unsigned(in[1] - '0');
        return true;
      case dev::kIoctlRemoveLink: {
        EXPECT_EQ(len, 2u);
        calls.push_back(c + " RemoveLink " + two());
        if (Fails("RemoveLink")) return false;
        links.erase(char(in[0]));
        for (auto it = attached.begin(); it != attached.end();)
          it = it->second.letter == char(in[0]) ? attached.erase(it) : std::next(it);
        return true;
      }
      case dev::IOCTL_FILE_DISK_OPEN_FILE: {
        calls.push_back(c + " OpenFile");
        if (Fails("OpenFile")) return false;
        const std::uint16_t n = std::uint16_t(in[24] | in[25] << 8);
        EXPECT_EQ(len, n + 31u);
        Attached a{volume, std::string(reinterpret_cast<const char*>(in + 26), n), in[4] == 1,
                   std::string(reinterpret_cast<const char*>(in + 5)),
                   std::uint32_t(in[16] | in[17] << 8 | in[18] << 16 | std::uint32_t(in[19]) << 24)};
        unsigned slot = links.count(volume) ? links[volume] : definitions[volume];
        attached[slot] = a;
        return true;
      }
      case dev::kIoctlCloseAll:
        calls.push_back(c + " CloseAll");
        if (Fails("CloseAll")) return false;
        links.clear();
        attached.clear();
        return true;
      case dev::kFsctlLockVolume: calls.push_back(c + " Lock"); return !Fails("Lock");
      case dev::kFsctlDismountVolume: calls.push_back(c + " Dismount"); return !Fails("Dismount");
      case dev::kFsctlUnlockVolume: calls.push_back(c + " Unlock"); return !Fails("Unlock");
    }
    ADD_FAILURE() << "unexpected request " << code;
    return false;
  }
};

kelm::store::StoredSlot Slot(const char* path, std::uint32_t mb, bool autoMount = true,
                             const char* password = "pw", bool readOnly = false) {
  kelm::store::StoredSlot s{};
  std::strcpy(s.valid, "yes");
  std::strcpy(s.imageFile, path);
  s.sizeMb = mb;
  std::strcpy(s.autoMount, autoMount ? "yes" : "no");
  std::strcpy(s.readOnly, readOnly ? "Yes" : "no");
  std::strcpy(s.password, password);
  return s;
}

struct Fixture {
  svc::ServiceState s;
  ModelEnvironment env;
  // User 1234 with one auto-mount slot 1 at c:\d1.img of 64 MB.
  Fixture() { env.users[1234].slots[1] = Slot("c:\\d1.img", 64); }
  std::string Letters() const {
    std::string r;
    for (auto l : s.driveLetter) r += l ? char(l) : '-';
    return r;
  }
  void Load(std::uint32_t key = 1234) { ASSERT_EQ(svc::LoadUserConfig(s, env, key), 1); }
};

}  // namespace

TEST(Mount, PickDriveLetter) {
  struct Case {
    std::string inUse;
    char letter;
  } cases[] = {{"", 'B'}, {"A", 'B'}, {"ACDG", 'H'}, {"C", 'D'}, {"ABCDEFGHIJKLMNOPQRSTUVWXY", 'Z'},
               {"Z", 0},  {"CZ", 0}};
  for (const Case& c : cases) {
    std::uint32_t mask = 0;
    for (char l : c.inUse) mask |= Bit(l);
    EXPECT_EQ(svc::PickDriveLetter(mask), c.letter) << c.inUse;
  }
  EXPECT_EQ(svc::PickDriveLetter(0xFC000000u | Bit('C')), 'D');  // bits past Z mean nothing
}

TEST(Mount, LettersFollowTheHighestInUse) {
  for (int platform : {svc::kPlatform2000, svc::kPlatformXp}) {
    Fixture f;
    f.env.platform = platform;
    f.env.baseDrives = Bit('A') | Bit('C') | Bit('D') | Bit('G');
    f.env.users[1234].slots[0] = Slot("c:\\d0.img", 33);
    f.env.users[1234].slots[3] = Slot("c:\\d3.img", 100, true, "", true);
    f.Load();
    EXPECT_EQ(svc::AutoMountAll(f.s, f.env, 1234), 0);
    EXPECT_EQ(f.Letters(), "HI-J") << platform;
    const Attached& a = f.env.attached.at(3);
    EXPECT_EQ(a.name, "\\??\\c:\\d3.img");
    EXPECT_TRUE(a.readOnly);
    EXPECT_EQ(a.password, "");
    EXPECT_EQ(a.bytes, 100u * 1048576u);
    EXPECT_EQ(f.env.attached.at(0).password, "pw");
    EXPECT_FALSE(f.env.attached.at(0).readOnly);
  }
}

TEST(Mount, WhichSlotsMount) {
  Fixture f;
  auto& u = f.env.users[1234];
  u.slots[0] = Slot("c:\\small.img", 32);
  u.slots[1] = Slot("c:\\dir", 64);
  u.slots[2] = Slot("c:\\manual.img", 64, false);
  u.slots[3] = Slot("c:\\huge.img", 4096);  // its byte count would not fit the record
  std::strcpy(u.slots[3].valid, "YES");
  f.env.directories.insert("c:\\dir");
  f.Load();
  EXPECT_EQ(svc::AutoMountAll(f.s, f.env, 1234), 0);
  EXPECT_EQ(f.Letters(), "----");
  EXPECT_EQ(svc::AutoMountAll(f.s, f.env, 5678), -1);
  svc::MountSlot(f.s, f.env, 2);  // mounts whatever its auto-mount setting
  EXPECT_EQ(f.Letters(), "--D-");
  for (unsigned n : {0u, 1u, 3u, 4u, 99u}) svc::MountSlot(f.s, f.env, n);
  EXPECT_EQ(f.Letters(), "--D-");
  std::strcpy(f.s.table.slots[0].valid, "no");
  f.s.table.slots[0].sizeMb = 33;
  svc::MountSlot(f.s, f.env, 0);
  EXPECT_EQ(f.Letters(), "--D-");
}

TEST(Mount, LoadUserConfig) {
  Fixture f;
  f.env.users[1234].slots[1] = Slot("c:\\d1.img", 64);
  std::strcpy(f.env.users[1234].delay, "7");
  f.s.driveLetter[2] = 'Q';  // a leftover letter is forgotten by the load
  f.Load();
  EXPECT_STREQ(f.s.table.loadedUser, "1234");
  EXPECT_EQ(f.s.kw.delay, 7u);
  EXPECT_EQ(f.Letters(), "----");
  // A second load is refused and changes nothing.
  EXPECT_EQ(svc::LoadUserConfig(f.s, f.env, 5678), 0);
  EXPECT_STREQ(f.s.table.loadedUser, "1234");
  EXPECT_STREQ(f.s.table.slots[1].imageFile, "c:\\d1.img");
  svc::ClearUserConfig(f.s);
  EXPECT_STREQ(f.s.table.loadedUser, "");
  EXPECT_EQ(f.s.table.slots[1].sizeMb, 0u);
  // A user without a key loads empty with the default delay.
  f.Load(99);
  EXPECT_EQ(f.s.kw.delay, 15u);
  EXPECT_EQ(svc::AutoMountAll(f.s, f.env, 99), 0);
  EXPECT_EQ(f.Letters(), "----");
}

TEST(Mount, EveryAttachFailureIsUndone) {
  using svc::kLogXpControlOpenFail, svc::kLogXpDefineFail, svc::kLogXpVolumeOpenFail,
      svc::kLogXpSymLinkFail, svc::kLogXpOpenFileFail;
  struct Case {
    int platform;
    const char* failing;
    const char* log;
    Calls calls;
  } cases[] = {
      {svc::kPlatform2000, "OpenControl", nullptr, {"OpenControl"}},
      {svc::kPlatform2000, "CreateLink", nullptr, {"OpenControl", "control CreateLink D1", "CloseControl"}},
      {svc::kPlatform2000, "OpenVolume", nullptr,
       {"OpenControl", "control CreateLink D1", "OpenVolume D", "control RemoveLink D1", "CloseControl"}},
      {svc::kPlatform2000, "OpenFile", nullptr,
       {"OpenControl", "control CreateLink D1", "OpenVolume D", "volume OpenFile", "control RemoveLink D1",
        "CloseVolume", "CloseControl"}},
      {svc::kPlatformXp, "OpenControl", kLogXpControlOpenFail, {"OpenControl"}},
      {svc::kPlatformXp, "Define", kLogXpDefineFail, {"OpenControl", "Define D Kelm1", "CloseControl"}},
      {svc::kPlatformXp, "OpenVolume", kLogXpVolumeOpenFail,
       {"OpenControl", "Define D Kelm1", "OpenVolume D", "CloseControl", "RemoveDefinition D"}},
      {svc::kPlatformXp, "CreateLink", kLogXpSymLinkFail,
       {"OpenControl", "Define D Kelm1", "OpenVolume D", "control CreateLink D1", "RemoveDefinition D",
        "CloseVolume", "CloseControl"}},
      {svc::kPlatformXp, "OpenFile", kLogXpOpenFileFail,
       {"OpenControl", "Define D Kelm1", "OpenVolume D", "control CreateLink D1", "CloseControl",
        "volume OpenFile", "volume RemoveLink D1", "RemoveDefinition D", "CloseVolume"}},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.env.platform = c.platform;
    f.env.failing.insert(c.failing);
    f.Load();
    svc::MountSlot(f.s, f.env, 1);
    const std::string what = std::to_string(c.platform) + " " + c.failing;
    EXPECT_EQ(f.Letters(), "----") << what;
    EXPECT_TRUE(f.env.Clean()) << what;
    EXPECT_EQ(f.env.calls, c.calls) << what;
    EXPECT_EQ(f.env.logs, c.log ? Calls{c.log} : Calls{}) << what;
    // Once the fault is gone the same slot mounts.
    f.env.failing.clear();
    f.env.calls.clear();
    svc::MountSlot(f.s, f.env, 1);
    EXPECT_EQ(f.Letters(), "-D--") << what;
    EXPECT_EQ(f.env.attached.count(1), 1u) << what;
  }
}

TEST(Mount, XpLetterAlreadyDefined) {
  Fixture f;
  f.env.definitions['D'] = 3;  // defined, yet not among the logical drives
  f.env.baseDrives = Bit('C');
  f.Load();
  std::uint32_t mask = f.env.LogicalDrives() & ~Bit('D');
  dev::OpenFileInfo record;
  ASSERT_EQ(dev::BuildOpenFileInfo(false, "pw", 64, "c:\\d1.img", record), dev::OpenFileInfoError::None);
  EXPECT_EQ(svc::PickDriveLetter(mask), 'D');
  EXPECT_FALSE(svc::AttachImage(f.env, 1, 'D', record));
  EXPECT_EQ(f.env.logs, Calls{svc::kLogXpLetterDefined});
  EXPECT_TRUE(f.env.calls.empty());
  EXPECT_EQ(f.env.definitions.at('D'), 3u);  // somebody else's: left alone
}

TEST(Mount, UnknownPlatformAttachesNothing) {
  Fixture f;
  f.env.platform = 0;
  f.Load();
  EXPECT_EQ(svc::AutoMountAll(f.s, f.env, 1234), 0);
  EXPECT_EQ(f.Letters(), "----");
  EXPECT_TRUE(f.env.calls.empty());
}

TEST(Mount, UnmountSlot) {
  for (int platform : {svc::kPlatform2000, svc::kPlatformXp}) {
    Fixture f;
    f.env.platform = platform;
    f.env.users[1234].slots[3] = Slot("c:\\d3.img", 64);
    f.Load();
    svc::AutoMountAll(f.s, f.env, 1234);
    ASSERT_EQ(f.Letters(), "-D-E");
    f.env.calls.clear();
    f.env.failing = {"Dismount"};
    EXPECT_EQ(svc::UnmountSlot(f.s, f.env, 'E'), 0);
    // The dismount steps are each tried; the link removal says '0' for slot 3.
    Calls want{"OpenVolume E", "volume Lock", "volume Dismount", "volume Unlock", "CloseVolume",
               "OpenControl", "control RemoveLink E0", "CloseControl"};
    if (platform == svc::kPlatformXp) want.push_back("RemoveDefinition E");
    EXPECT_EQ(f.env.calls, want) << platform;
    EXPECT_EQ(f.env.logs, Calls{svc::kLogDismountError});
    EXPECT_EQ(f.Letters(), "-D--");
    EXPECT_EQ(f.env.attached.count(3), 0u);
    EXPECT_EQ(f.env.definitions.count('E'), 0u);
    // A removal the driver refuses keeps the letter.
    f.env.failing = {"RemoveLink"};
    EXPECT_EQ(svc::UnmountSlot(f.s, f.env, 'D'), -1);
    f.env.failing = {"OpenControl"};
    EXPECT_EQ(svc::UnmountSlot(f.s, f.env, 'D'), -1);
    EXPECT_EQ(f.Letters(), "-D--");
    EXPECT_FALSE(f.env.controlOpen);
  }
}

TEST(Mount, DismountVolumeLogsEachFailure) {
  Fixture f;
  f.env.failing = {"Lock", "Dismount", "Unlock"};
  f.env.links['F'] = 0;
  svc::DismountVolume(f.env, 'F');
  EXPECT_EQ(f.env.logs, (Calls{svc::kLogLockError, svc::kLogDismountError, svc::kLogUnlockError}));
  f.env.logs.clear();
  svc::DismountVolume(f.env, 'G');  // nothing behind G:
  EXPECT_EQ(f.env.logs, Calls{svc::kLogOpenError});
}

TEST(Mount, UnmountAll) {
  for (int platform : {svc::kPlatform2000, svc::kPlatformXp}) {
    Fixture f;
    f.env.platform = platform;
    f.env.users[1234].slots[0] = Slot("c:\\d0.img", 64);
    f.Load();
    svc::AutoMountAll(f.s, f.env, 1234);
    f.s.kw.stateCode = kelm::kStateMounted;
    ASSERT_EQ(f.Letters(), "DE--");
    f.env.failing = {"CloseAll"};
    EXPECT_EQ(svc::UnmountAll(f.s, f.env), -1);
    EXPECT_EQ(f.Letters(), "DE--");
    EXPECT_EQ(f.s.kw.stateCode, kelm::kStateMounted);
    f.env.failing = {"OpenControl"};
    EXPECT_EQ(svc::UnmountAll(f.s, f.env), -1);
    EXPECT_EQ(f.Letters(), "DE--");
    f.env.failing.clear();
    f.env.calls.clear();
    EXPECT_EQ(svc::UnmountAll(f.s, f.env), 0);
    EXPECT_EQ(f.Letters(), "----");
    EXPECT_EQ(f.s.kw.stateCode, kelm::kStateNotMounted);
    EXPECT_TRUE(f.env.Clean()) << platform;
    Calls want{"OpenControl", "OpenVolume D", "volume Lock", "volume Dismount", "volume Unlock", "CloseVolume",
               "OpenVolume E", "volume Lock", "volume Dismount", "volume Unlock", "CloseVolume",
               "control CloseAll", "CloseControl"};
    if (platform == svc::kPlatformXp) {
      want.push_back("RemoveDefinition D");
      want.push_back("RemoveDefinition E");
    }
    EXPECT_EQ(f.env.calls, want) << platform;
  }
}
