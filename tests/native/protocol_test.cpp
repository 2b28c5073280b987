#include "common/protocol.h"

#include <gtest/gtest.h>

#include <string>

using kelm::ParseRequest;

TEST(Protocol, ParseRequestFields) {
  struct Case {
    const char* text;
    bool isCmd;
    std::uint32_t code, arg;
  } cases[] = {
      {"CMD:32774", true, 32774, 0},
      {"cmd:32774", true, 32774, 0},
      {"CmD:32777:2", true, 32777, 2},
      {"CMX:32774", false, 0, 0},
      {"CMD::32774", true, 32774, 0},
      {":::CMD:::32777::3::", true, 32777, 3},
      {"CMD:32777:3:9:9", true, 32777, 3},
      {"CMD", true, 0, 0},
      {"CMD:", true, 0, 0},
      {"", false, 0, 0},
      {":::", false, 0, 0},
      {"CMDX:1", false, 0, 0},
      {" CMD:1", false, 0, 0},
      {"CMD: 34816:+1234", true, 34816, 1234},
      {"CMD:abc:12x", true, 0, 12},
      {"CMD:-1", true, 4294967295u, 0},
      {"CMD:4294967296", true, 0, 0},
  };
  for (const Case& c : cases) {
    kelm::Request r = ParseRequest(c.text);
    EXPECT_EQ(r.isCmd, c.isCmd) << c.text;
    EXPECT_EQ(r.code, c.code) << c.text;
    EXPECT_EQ(r.arg, c.arg) << c.text;
  }
}

TEST(Protocol, FieldsAreCutAt199Characters) {
  // 199 zeros then a 7: the 7 is cut off, so the code is 0.
  std::string longCode = "CMD:" + std::string(199, '0') + "7:5";
  kelm::Request r = ParseRequest(longCode);
  EXPECT_TRUE(r.isCmd);
  EXPECT_EQ(r.code, 0u);
  EXPECT_EQ(r.arg, 5u);
  std::string fits = "CMD:" + std::string(198, '0') + "7";
  EXPECT_EQ(ParseRequest(fits).code, 7u);
  // A long first field is cut too and is then no longer "CMD".
  EXPECT_FALSE(ParseRequest("CMD" + std::string(300, ' ') + ":32774").isCmd);
}

TEST(Protocol, RequestTextDropsFinalCrAndStopsAtZero) {
  struct Case {
    std::string message, text;
  } cases[] = {
      {"CMD:32774\r", "CMD:32774"},
      {"CMD:32774", "CMD:32774"},
      {"CMD:32774\r\r", "CMD:32774\r"},
      {std::string("CMD:1\0junk\r", 11), "CMD:1"},
      {"\r", ""},
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(kelm::RequestText(c.message.data(), c.message.size()), c.text);
}

TEST(Protocol, FormatAnswer) {
  struct Case {
    std::uint32_t value;
    std::uint8_t code;
    const char* text;
  } cases[] = {
      {3, 7, "CMD:3:7\r"},
      {0, 8, "CMD:0:8\r"},
      {4294967295u, 8, "CMD:4294967295:8\r"},
      {kelm::DriveLetterValue(1, 'F'), 9, "CMD:17921:9\r"},
      {1234, 1, "CMD:1234:1\r"},
      {7, 255, "CMD:7:255\r"},
  };
  for (const Case& c : cases) {
    char buf[kelm::kMaxMessageChars];
    std::size_t n = kelm::FormatAnswer(c.value, c.code, buf, sizeof buf);
    EXPECT_EQ(std::string(buf, n), c.text);
  }
  char tiny[5];
  EXPECT_EQ(kelm::FormatAnswer(3, 7, tiny, sizeof tiny), 0u);
}

TEST(Protocol, FormatRequest) {
  char buf[kelm::kMaxMessageChars];
  std::uint32_t arg = 2;
  EXPECT_EQ(std::string(buf, kelm::FormatRequest(32774, nullptr, buf, sizeof buf)), "CMD:32774\r");
  EXPECT_EQ(std::string(buf, kelm::FormatRequest(32777, &arg, buf, sizeof buf)), "CMD:32777:2\r");
}

TEST(Protocol, ParseAnswer) {
  struct Case {
    const char* text;
    bool ok;
    std::uint32_t value, code;
  } cases[] = {
      {"CMD:3:7\r", true, 3, 7},
      {"CMD:4294967295:8", true, 4294967295u, 8},
      {"CMD:17921:9\r", true, 17921, 9},
      {"CMD:4294967296:8", false, 0, 0},
      {"CMD:3:256", false, 0, 0},
      {"CMD:3", false, 0, 0},
      {"cmd:3:7", false, 0, 0},
      {"CMD::7", false, 0, 0},
      {"CMD:3:7x", false, 0, 0},
  };
  for (const Case& c : cases) {
    std::uint32_t v = 0, k = 0;
    EXPECT_EQ(kelm::ParseAnswer(c.text, v, k), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
      EXPECT_EQ(k, c.code) << c.text;
    }
  }
}
