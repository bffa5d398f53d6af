#include <gtest/gtest.h>

#include <string>

#include "kavutil/kavbase.h"

namespace {

// A command line in a buffer the parsers may edit.
struct Line {
  explicit Line(const std::string &s) : buf(s) { buf.push_back('\0'); }
  char *data() { return buf.data(); }
  std::string str() const { return std::string(buf.c_str()); }
  std::string buf;
};

}  // namespace

TEST(Switches, FlagMatchesEitherCaseButNotWithALetterOrDigitAfter) {
  struct Case {
    const char *line;
    int found;
    const char *rest;
  } cases[] = {
      {"a /L b", 1, "a  b"},
      {"/l", 1, ""},
      {"/L/x", 1, "/x"},
      {"/L5", 0, "/L5"},
      {"/Lx", 0, "/Lx"},
      {"/L\xE9", 1, "\xE9"},  // a high byte counts as punctuation here
      {"/Lx /L", 1, "/Lx "},  // the first passing occurrence wins
      {"/L /L", 1, " /L"},
      {"\"/L\"", 1, "\"\""},  // quotes do not hide a switch
      {"/", 0, "/"},
      {"", 0, ""},
  };
  for (const auto &c : cases) {
    Line l(c.line);
    EXPECT_EQ(GetSwitch(l.data(), 'L'), c.found) << c.line;
    EXPECT_EQ(l.str(), c.rest) << c.line;
  }
  Line other("/&pal");
  EXPECT_EQ(GetSwitch(other.data(), '&'), 0);  // value after it: not a flag
  Line amp("/& x");
  EXPECT_EQ(GetSwitch(amp.data(), '&'), 1);
}

TEST(Switches, StringValueUnquotedOrQuoted) {
  {
    Line l("in.avi /O\"my out.flc\" /L");
    char dest[64];
    EXPECT_EQ(GetSwitchStr(l.data(), 'O', dest, "dflt"), 1);
    EXPECT_STREQ(dest, "my out.flc");
    EXPECT_EQ(l.str(), "in.avi  /L");
  }
  {
    Line l("/O out");
    char dest[64];
    EXPECT_EQ(GetSwitchStr(l.data(), 'O', dest, "dflt"), 0);
    EXPECT_STREQ(dest, "dflt");
    EXPECT_EQ(l.str(), "/O out");
  }
  {
    Line l("/ofile.bmp/q5 rest");
    char dest[64];
    EXPECT_EQ(GetSwitchStr(l.data(), 'O', dest, ""), 1);
    EXPECT_STREQ(dest, "file.bmp");
    EXPECT_EQ(l.str(), "/q5 rest");
  }
  {
    Line l("x /O\"never closed");
    char dest[64];
    EXPECT_EQ(GetSwitchStr(l.data(), 'O', dest, ""), 1);
    EXPECT_STREQ(dest, "never closed");
    EXPECT_EQ(l.str(), "x ");
  }
  {
    Line l("/O");  // nothing after the letter: no value, not found
    char dest[8];
    EXPECT_EQ(GetSwitchStr(l.data(), 'O', dest, nullptr), 0);
    EXPECT_STREQ(dest, "");
  }
}

TEST(Switches, NumbersAndFractions) {
  {
    Line l("/S-12 x");
    EXPECT_EQ(GetSwitchNum(l.data(), 'S', 7), -12);
    EXPECT_EQ(l.str(), " x");
  }
  {
    Line l("/S-");
    EXPECT_EQ(GetSwitchNum(l.data(), 'S', 7), 7);
    EXPECT_EQ(l.str(), "/S-");
  }
  {
    Line l("/Sx /s42abc");
    EXPECT_EQ(GetSwitchNum(l.data(), 'S', 7), 42);
    EXPECT_EQ(l.str(), "/Sx abc");
  }
  {
    Line l("/S99999999999999");
    EXPECT_EQ(GetSwitchNum(l.data(), 'S', 0), INT32_MAX);  // saturates, never wraps
    Line n("/S-99999999999999");
    EXPECT_EQ(GetSwitchNum(n.data(), 'S', 0), INT32_MIN);
  }
  {
    Line l("a /F30;1.001 b");
    int32_t num = 0, den = 0;
    GetSwitchFractional(l.data(), 'F', &num, &den, 25, 1);
    EXPECT_EQ(num, 30000);
    EXPECT_EQ(den, 1001);
    EXPECT_EQ(l.str(), "a  b");
  }
  {
    Line l("/F.5");  // a value must start with a digit or "-digit"
    int32_t num = 0, den = 0;
    GetSwitchFractional(l.data(), 'F', &num, &den, 25, 1);
    EXPECT_EQ(num, 25);
    EXPECT_EQ(den, 1);
    EXPECT_EQ(l.str(), "/F.5");
  }
}

TEST(Switches, CancellingSwitchesRemoveEarlierOnesOnly) {
  struct Case {
    const char *line;
    const char *rest;
  } cases[] = {
      {"/L2 /-L /L5", "  /L5"},
      {"/l2 /O\"a b\" /-l", " /O\"a b\" "},
      {"/O\"a b\" x /-O", " x "},
      {"/Q1 /Q2 /-q end", "   end"},
      {"keep /-", "keep "},
      {"/-X alone", " alone"},
      {"/A1/B2/-A", "/B2"},
      {"/Z\"/-Z /Z1", " /Z1"},  // an unclosed value never runs into the cancelling switch
  };
  for (const auto &c : cases) {
    Line l(c.line);
    RemoveMinusSwitches(l.data());
    EXPECT_EQ(l.str(), c.rest) << c.line;
  }
}
