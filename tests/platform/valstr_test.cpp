#include "platform/valstr.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

using platform::Str;
using platform::Val;

TEST(ValTest, ReadsTheLeadingDecimalNumber) {
  EXPECT_DOUBLE_EQ(Val("0.45"), 0.45);
  EXPECT_DOUBLE_EQ(Val("  14.7 psi"), 14.7);
  EXPECT_DOUBLE_EQ(Val("-3"), -3.0);
  EXPECT_DOUBLE_EQ(Val("+2.5"), 2.5);
  EXPECT_DOUBLE_EQ(Val(".5"), 0.5);
  EXPECT_DOUBLE_EQ(Val("5."), 5.0);
  EXPECT_DOUBLE_EQ(Val("1e3x"), 1000.0);
  EXPECT_DOUBLE_EQ(Val("12e"), 12.0);  // an exponent without digits is not part of the number
  EXPECT_DOUBLE_EQ(Val("3.2.1"), 3.2);
}

TEST(ValTest, TextWithoutALeadingNumberIsZero) {
  EXPECT_EQ(Val(""), 0.0);
  EXPECT_EQ(Val("abc"), 0.0);
  EXPECT_EQ(Val("-"), 0.0);
  EXPECT_EQ(Val("."), 0.0);
  EXPECT_EQ(Val("x12"), 0.0);
}

TEST(ValTest, NumbersBeyondADoubleReadAsInfinityOrZero) {
  // Too large is infinite, and so above every bound a field checks.
  EXPECT_EQ(Val("1e400"), HUGE_VAL);
  EXPECT_EQ(Val("-1e400"), -HUGE_VAL);
  EXPECT_EQ(Val("0.001e312"), HUGE_VAL);
  EXPECT_EQ(Val(std::string(400, '9')), HUGE_VAL);
  // Too small is as good as 0: it must not pass for an enormous value.
  EXPECT_EQ(Val("1e-400"), 0.0);
  EXPECT_EQ(Val("-1e-400"), 0.0);
  EXPECT_EQ(Val("1000e-400"), 0.0);
  EXPECT_EQ(Val("0." + std::string(400, '0') + "1"), 0.0);
  EXPECT_EQ(Val("1e-99999999999999999999"), 0.0);
}

TEST(StrTest, IntegersArePlainDigits) {
  EXPECT_EQ(Str(0), "0");
  EXPECT_EQ(Str(-42), "-42");
  EXPECT_EQ(Str(static_cast<std::int64_t>(65535)), "65535");
}

TEST(StrTest, RealsAreShortDecimalText) {
  EXPECT_EQ(Str(0.45), "0.45");
  EXPECT_EQ(Str(2.5), "2.5");
  EXPECT_EQ(Str(5.0), "5");
  EXPECT_EQ(Str(14.7), "14.7");
  EXPECT_EQ(Str(-0.0), "0");
  EXPECT_EQ(Str(6553.5), "6553.5");
  EXPECT_EQ(Str(4.5), "4.5");
}

TEST(StrTest, EveryTenthUpTo6553AndAHalfSurvivesARoundTrip) {
  for (int tenths = 0; tenths <= 65535; ++tenths) {
    double v = tenths / 10.0;
    ASSERT_EQ(static_cast<int>(std::lround(Val(Str(v)) * 10.0)), tenths) << Str(v);
  }
}

TEST(ValStrTest, IgnoresTheUserLocale) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = old ? old : "C";
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(Str(2.5), "2.5");
  EXPECT_DOUBLE_EQ(Val("2.5"), 2.5);
  std::setlocale(LC_NUMERIC, saved.c_str());
}
