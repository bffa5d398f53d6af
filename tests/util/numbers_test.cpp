#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "kavutil/kavbase.h"

TEST(Rationals, ParseDecimalsSignsAndDivisions) {
  struct Case {
    const char *text;
    int32_t num, den;
    size_t consumed;
  } cases[] = {
      {"30;1.001", 30000, 1001, 8}, {"29.97", 2997, 100, 5}, {"-7.5", -15, 2, 4}, {"abc", 0, 1, 0},
      {"25;0", 25, 1, 4},           {"25;x", 25, 1, 3},      {"12.50fps", 25, 2, 5}, {".5", 1, 2, 2},
      {"-", 0, 1, 1},               {"0", 0, 1, 1},          {"24;2", 12, 1, 4},    {"1;3", 1, 3, 3},
  };
  for (const auto &c : cases) {
    int32_t num = 99, den = 99;
    const char *end = atofr(c.text, &num, &den);
    EXPECT_EQ(num, c.num) << c.text;
    EXPECT_EQ(den, c.den) << c.text;
    EXPECT_EQ(static_cast<size_t>(end - c.text), c.consumed) << c.text;
  }
}

TEST(Rationals, OverlongDigitsStayDefinedAndDenominatorNonZero) {
  int32_t num, den;
  atofr("99999999999999999999.99999999999;0.000000000001", &num, &den);
  EXPECT_NE(den, 0);
}

TEST(Rationals, GcdReduces) {
  uint32_t a = 30000, b = 1000;
  GCDNums(&a, &b);
  EXPECT_EQ(a, 30u);
  EXPECT_EQ(b, 1u);
  a = 0, b = 10;
  GCDNums(&a, &b);
  EXPECT_EQ(b, 10u);
  a = 0x80000000u, b = 0x40000000u;  // read as unsigned, not negative
  GCDNums(&a, &b);
  EXPECT_EQ(a, 2u);
  EXPECT_EQ(b, 1u);
  a = 7, b = 13;
  GCDNums(&a, &b);
  EXPECT_EQ(a, 7u);
}

TEST(Numbers, DecimalTextAndBack) {
  char buf[16];
  char *end = u32toa(buf, -123);
  EXPECT_STREQ(buf, "-123");
  EXPECT_EQ(end, buf + 4);
  u32toa(u32toa(buf, 12), 34);  // chained
  EXPECT_STREQ(buf, "1234");
  u32toa(buf, INT32_MIN);
  EXPECT_STREQ(buf, "-2147483648");
  u32toa(buf, 0);
  EXPECT_STREQ(buf, "0");
  EXPECT_EQ(atou32("  -42x"), -42);
  EXPECT_EQ(atou32("+7"), 7);
  EXPECT_EQ(atou32("x1"), 0);
}

TEST(Numbers, ThousandsSeparators) {
  struct Case {
    uint32_t v;
    const char *text;
  } cases[] = {{0, "0"}, {999, "999"}, {1000, "1,000"}, {1234567, "1,234,567"}, {4294967295u, "4,294,967,295"},
               {100000, "100,000"}};
  for (const auto &c : cases) {
    char buf[16];
    std::memset(buf, '#', sizeof buf);
    CommaNum(buf, c.v);
    EXPECT_STREQ(buf, c.text);
  }
}

TEST(Numbers, FramePeriods) {
  EXPECT_EQ(MakeFrameRate(30), 3333);
  EXPECT_EQ(MakeFrameRate(-40), 4000);
  EXPECT_EQ(MakeFrameRate(-1500), 150000);
  EXPECT_EQ(MakeFrameRate(-1501), 1501);
  EXPECT_EQ(MakeFrameRate(-2000), 2000);
  EXPECT_EQ(MakeFrameRate(100000), 5);
  EXPECT_EQ(MakeFrameRate(1000000), 0);  // only non-zero periods are raised
  EXPECT_EQ(MakeFrameRate(-3), 300);
  EXPECT_EQ(MakeFrameRate(0), 0);
  EXPECT_EQ(MakeFrameRate(INT32_MIN), INT32_MAX);
}
