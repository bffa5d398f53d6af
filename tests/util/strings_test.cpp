#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kavutil/kavbase.h"

namespace {

// Runs an in-place edit on a copy held in a buffer with a guard area, and
// checks that nothing past the terminator was touched.
template <typename Edit>
std::string edited(const std::string &in, Edit edit) {
  std::string buf = in;
  buf.push_back('\0');
  buf.append(16, '#');
  edit(buf.data());
  EXPECT_EQ(buf.substr(in.size() + 1), std::string(16, '#')) << "wrote past the string";
  return std::string(buf.c_str());
}

struct TokenCase {
  const char *input;
  const char *token;
  const char *rest;
};

}  // namespace

TEST(Trim, RemovesBlanksOnBothEndsIncludingHighBytes) {
  EXPECT_EQ(edited("  abc  ", Trim), "abc");
  EXPECT_EQ(edited(" \t\r\n ", Trim), "");
  EXPECT_EQ(edited("", Trim), "");
  EXPECT_EQ(edited("abc\xE9", Trim), "abc");      // bytes 0x80..0xFF are blanks
  EXPECT_EQ(edited("\xFF\x80x y\x01", Trim), "x y");
  EXPECT_EQ(edited("  a\xE9 ", TrimAscii), "a");
  EXPECT_EQ(edited("\xE9\xE9", TrimAscii), "");
}

TEST(Trim, LeftOnlyKeepsTheEnd) {
  EXPECT_EQ(edited("  abc  ", TrimL), "abc  ");
  EXPECT_EQ(edited("    ", TrimL), "");
}

TEST(Tokens, FirstTokenTakesAFollowingComma) {
  const TokenCase cases[] = {
      {"one two", "one", "two"},
      {"a , b", "a ,", "b"},
      {"a,b c", "a,b", "c"},
      {"   lone   ", "lone", ""},
      {"", "", ""},
      {"x ,, y", "x ,", ", y"},
  };
  for (const auto &c : cases) {
    std::string text = c.input;
    text.push_back('\0');
    char dest[64];
    GetAndRemoveFirst(dest, text.data());
    EXPECT_STREQ(dest, c.token) << c.input;
    EXPECT_STREQ(text.c_str(), c.rest) << c.input;
  }
}

TEST(Tokens, QuotedTokenKeepsBlanksAndUnclosedQuoteTakesAll) {
  const TokenCase cases[] = {
      {"\"my clip.avi\" out.flc", "my clip.avi", "out.flc"},
      {"\"open ended", "\"open ended", ""},
      {"plain, next", "plain,", "next"},
      {"  \"\"  after ", "", "after"},
      {"\" padded \",x", "padded", ",x"},
  };
  for (const auto &c : cases) {
    std::string text = c.input;
    text.push_back('\0');
    char dest[64];
    GetAndRemoveFirstQuoted(dest, text.data());
    EXPECT_STREQ(dest, c.token) << c.input;
    EXPECT_STREQ(text.c_str(), c.rest) << c.input;
  }
}

TEST(Tokens, RemoveQuotesNeedsBothEnds) {
  EXPECT_EQ(edited(" \"a b\" ", RemoveQuotes), "a b");
  EXPECT_EQ(edited("\"", RemoveQuotes), "\"");
  EXPECT_EQ(edited("\"\"", RemoveQuotes), "");
  EXPECT_EQ(edited("\"abc", RemoveQuotes), "\"abc");
}

TEST(Tokens, AddBackslashAppendsOneSeparator) {
  char buf[32];
  std::strcpy(buf, " /tmp/dir ");
  AddBackslash(buf);
  EXPECT_STREQ(buf, "/tmp/dir/");
  AddBackslash(buf);
  EXPECT_STREQ(buf, "/tmp/dir/");
  std::strcpy(buf, "dos\\dir\\");
  AddBackslash(buf);
  EXPECT_STREQ(buf, "dos\\dir\\");
  std::strcpy(buf, "   ");
  AddBackslash(buf);
  EXPECT_STREQ(buf, "");
  const char *s = "abc";
  EXPECT_EQ(findchar(s, 'c'), s + 2);
  EXPECT_EQ(findchar(s, 'z'), nullptr);
}
