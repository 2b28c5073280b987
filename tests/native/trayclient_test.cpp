// The tray program's protocol side: request lines, the notification
// parser, the line collector, what each notification does, the menu, the
// log-in rules and the warning countdown.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cfg/logic/login.h"
#include "cfg/logic/servicelines.h"
#include "cfg/logic/trayclient.h"
#include "cfg/logic/warning.h"
#include "common/storefields.h"

using namespace kelm::cfg;

TEST(RequestLine, Forms) {
  EXPECT_EQ(std::string(FormatRequest(kReqGetState).text), "CMD:32774\r");
  EXPECT_EQ(std::string(FormatRequest(kReqToggleMount, 0u).text), "CMD:32777:0\r");
  const RequestLine setUser = FormatRequest(kReqSetUser, std::string_view("1234"));
  EXPECT_EQ(std::string(setUser.text, setUser.length), "CMD:34816:1234\r");
  // An argument that does not fit is refused whole, never cut.
  EXPECT_EQ(FormatRequest(kReqSetUser, std::string(990, '7')).length, 0u);
  EXPECT_EQ(FormatRequest(kReqSetUser, std::string(900, '7')).length, 900u + 11u);
}

TEST(ParseNotification, Table) {
  struct Case {
    const char* line;
    bool kept;
    unsigned kind, value;
  } cases[] = {
      {"CMD:5:7", true, 7, 5},
      {"cmd:1234:8", true, 8, 1234},
      {"CMD:17665:9", true, 9, 17665},
      {"CMD:1234:1", true, 1, 1234},
      {"CMD:0:9", true, 9, 0},  // slot 0 without a letter reaches the handling
      {"CMD:0:8", false, 0, 0},
      {"CMD:0:7", false, 0, 0},
      {"CMD:4294967295:8", false, 0, 0},
      {"CMD:-1:8", false, 0, 0},
      {"MSG:anything", false, 0, 0},
      {"X:1:2", false, 0, 0},
      {"ABCDE:1:2", false, 0, 0},
      {"CMD:263:9", true, 9, 263},
      {"CMD:5:263", true, 7, 5},  // kind keeps its low byte
      {"CMD:12", true, 12, 12},   // no second colon: the rest is both
      {"", false, 0, 0},
  };
  for (const Case& c : cases) {
    const auto n = ParseNotification(c.line);
    EXPECT_EQ(n.has_value(), c.kept) << c.line;
    if (n && c.kept) {
      EXPECT_EQ(n->kind, c.kind) << c.line;
      EXPECT_EQ(n->value, c.value) << c.line;
    }
  }
  EXPECT_FALSE(ParseNotification("CMD:5:7" + std::string(995, ' ')));
}

TEST(LineCollector, LinesAndOverlongRuns) {
  LineCollector c;
  std::string got;
  for (char ch : std::string("CMD:5:7\rCMD:1234:8\r"))
    if (c.Add(ch)) got += std::string(c.line()) + "|";
  EXPECT_EQ(got, "CMD:5:7|CMD:1234:8|");
  // 1200 bytes without CR: the first 999 are dropped, the rest is one line.
  std::string last;
  for (int i = 0; i < 1200; ++i) EXPECT_FALSE(c.Add(static_cast<char>('a' + i % 26)));
  ASSERT_TRUE(c.Add('\r'));
  EXPECT_EQ(c.line().size(), 201u);
  EXPECT_EQ(c.line()[0], static_cast<char>('a' + 999 % 26));
}

TEST(Notifications, RunningAskForUserThenLetters) {
  ClientState s;
  NotifyEffect e = HandleNotification(s, {kKindState, 5});
  EXPECT_EQ(e.icon, TrayIcon::Running);
  EXPECT_EQ(e.request, kReqGetKey);
  e = HandleNotification(s, {kKindKey, 1234});
  EXPECT_EQ(s.user, 1234u);
  EXPECT_TRUE(e.loadSlots);
  EXPECT_EQ(e.request, kReqCheckMount);
  HandleNotification(s, {kKindDriveLetter, 1 + 256 * 'E'});
  EXPECT_EQ(s.PackedLetters(), 0x00004500u);
  HandleNotification(s, {kKindDriveLetter, 3 + 256 * 'G'});
  HandleNotification(s, {kKindDriveLetter, 0 + 256 * 'D'});
  EXPECT_EQ(s.PackedLetters(), 0x47004544u);
  // Slot 0 dismounted: its letter goes (the parser now lets CMD:0:9 through).
  HandleNotification(s, *ParseNotification("CMD:0:9"));
  EXPECT_EQ(s.PackedLetters(), 0x47004500u);
  HandleNotification(s, {kKindDriveLetter, 4 + 256 * 'Z'});  // no slot 4
  EXPECT_EQ(s.PackedLetters(), 0x47004500u);
}

TEST(Notifications, StoppedAndLoggedOff) {
  ClientState s;
  s.user = 1234;
  s.letters[1] = 'E';
  NotifyEffect e = HandleNotification(s, {kKindState, 4});
  EXPECT_EQ(e.icon, TrayIcon::Stopped);
  EXPECT_EQ(s.user, 1234u);
  EXPECT_EQ(s.PackedLetters(), 0u);
  s.letters[2] = 'F';
  e = HandleNotification(s, {kKindState, 3});
  EXPECT_EQ(e.icon, TrayIcon::Stopped);
  EXPECT_EQ(e.request, 0u);
  EXPECT_EQ(s.user, 0u);
  EXPECT_EQ(s.PackedLetters(), 0u);
  // A user of 0 (the Windows 98 form delivers it) clears the slots too.
  s.user = 5;
  std::strcpy(s.slots[0].valid, "yes");
  s.letters[0] = 'D';
  HandleNotification(s, {kKindKey, 0});
  EXPECT_EQ(s.user, 0u);
  EXPECT_EQ(s.slots[0].valid[0], 0);
  EXPECT_EQ(s.PackedLetters(), 0u);
  e = HandleNotification(s, {kKindKeyLost, 1234});
  EXPECT_TRUE(e.warn);
  EXPECT_EQ(e.warningCode, 1234u);
  e = HandleNotification(s, {42, 1});
  EXPECT_EQ(e.icon, TrayIcon::Unchanged);
  EXPECT_FALSE(e.warn);
}

std::string Menu(const std::vector<MenuEntry>& items) {
  std::string out;
  for (const MenuEntry& m : items) {
    if (m.separator)
      out += "---|";
    else
      out += m.text + (m.checked ? "[x]" : "") + "#" + std::to_string(m.id) + "|";
  }
  return out;
}

TEST(TrayMenu, EntriesAboveTheFixedCommands) {
  ClientState s;
  EXPECT_EQ(Menu(TrayMenuTop(s, false, "")), "");
  EXPECT_EQ(Menu(TrayMenuTop(s, true, "")), "#13411|---|");
  s.user = 1234;
  std::strcpy(s.slots[0].valid, "yes");
  std::strcpy(s.slots[1].valid, "no");
  std::strcpy(s.slots[2].valid, "YES");
  s.letters[2] = 'F';
  EXPECT_EQ(Menu(TrayMenuTop(s, false, "")), "Kelm(2)->F[x]#28674|Kelm(0)#28672|---|");
  EXPECT_EQ(Menu(TrayMenuTop(s, true, "Log in")),
            "Log in#13411|---|Kelm(2)->F[x]#28674|Kelm(0)#28672|---|");
  // Logged in without a valid slot: the separator alone.
  ClientState none;
  none.user = 7;
  EXPECT_EQ(Menu(TrayMenuTop(none, false, "")), "---|");
}

TEST(Login, FieldRules) {
  struct Case {
    const char* id;
    const char* pass;
    LoginFields want;
  } cases[] = {
      {"1234", "pw", LoginFields::Ok},   {"", "pw", LoginFields::Missing},
      {"1234", "", LoginFields::Missing}, {"0123", "pw", LoginFields::LeadingZero},
      {"12345", "pw", LoginFields::TooLong}, {"9", "x", LoginFields::Ok},
  };
  for (const Case& c : cases) EXPECT_EQ(CheckLoginFields(c.id, c.pass), c.want) << c.id << "/" << c.pass;
}

TEST(Login, PasswordAgainstStoredValue) {
  std::uint8_t pas[kelm::store::kLoginPassField];
  ASSERT_TRUE(kelm::store::EncodeLoginPassword("Secret1", pas));
  EXPECT_TRUE(LoginPasswordMatches(pas, sizeof pas, "Secret1"));
  EXPECT_TRUE(LoginPasswordMatches(pas, sizeof pas, "sECRET1"));
  EXPECT_FALSE(LoginPasswordMatches(pas, sizeof pas, "Secret"));
  EXPECT_FALSE(LoginPasswordMatches(pas, sizeof pas, "Secret12"));
  EXPECT_FALSE(LoginPasswordMatches(pas, 0, ""));
  // A value cut short by its stored length ends the password there.
  EXPECT_FALSE(LoginPasswordMatches(pas, 3, "Secret1"));
}

TEST(Warning, CountdownAndReadings) {
  WarningCountdown c(3);
  int ticks = 0;
  while (c.Advance()) ++ticks;
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(c.position(), 3);
  EXPECT_FALSE(WarningCountdown(0).Advance());
  EXPECT_FALSE(WarningCountdown(-5).Advance());
  EXPECT_EQ(DecideReading(ReceiverRead::Code, 1234, 1234), WarningEnd::KeyBack);
  EXPECT_EQ(DecideReading(ReceiverRead::Code, 5678, 1234), WarningEnd::None);
  EXPECT_EQ(DecideReading(ReceiverRead::NoReading, 0xFFFFFFFFu, 1234), WarningEnd::None);
  EXPECT_EQ(DecideReading(ReceiverRead::Failed, 0, 1234), WarningEnd::KeyTimeout);
  EXPECT_EQ(CountdownSeconds("30"), 30);
  EXPECT_EQ(CountdownSeconds("10 s"), 10);
  EXPECT_EQ(CountdownSeconds("abc"), 0);
  EXPECT_EQ(CountdownSeconds(""), 0);
}

TEST(Warning, CountdownLineFormatter) {
  struct Case {
    const char* format;
    const char* want;
  } cases[] = {
      {"the virtual hard disks mounted will be unmount", "the virtual hard disks mounted will be unmount"},
      {"unmounted in %d seconds", "unmounted in 30 seconds"},
      {"in %u s (100%%)", "in 30 s (100%)"},
      {"[%4d]", "[  30]"},
      {"%s%s%s%n", "%s%s%s%n"},  // never handed to printf without arguments
      {"%d and %d", "30 and 30"},
      {"ends with %", "ends with %"},
      {"%-08.3x", "%-08.3x"},
  };
  char out[256];
  for (const Case& c : cases) {
    FormatCountdownLine(c.format, 30, out, sizeof out);
    EXPECT_STREQ(out, c.want) << c.format;
  }
  char small[8];
  FormatCountdownLine("in %d seconds", 30, small, sizeof small);
  EXPECT_STREQ(small, "in 30 s");
  std::string huge(1000, 'x');
  FormatCountdownLine(("%900d" + huge).c_str(), 30, out, sizeof out);
  EXPECT_EQ(std::strlen(out), 255u);
}
