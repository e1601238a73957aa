// Text forms of numbers and date-time values.
#include "runtime/ValueText.h"

#include <gtest/gtest.h>

#include "runtime/Exception.h"
#include "tests/support/Failures.h"

namespace {

TEST(ValueText, FloatTextHasFifteenSignificantDigitsAndAShortExponent) {
  EXPECT_EQ(rt::FloatToStr(0.1), "0.1");
  EXPECT_EQ(rt::FloatToStr(-2.5), "-2.5");
  EXPECT_EQ(rt::FloatToStr(12345), "12345");
  EXPECT_EQ(rt::FloatToStr(1.0 / 3.0), "0.333333333333333");
  EXPECT_EQ(rt::FloatToStr(1.5e-7), "1.5E-7");
  EXPECT_EQ(rt::FloatToStr(1e20), "1E20");
  EXPECT_EQ(rt::FloatToStr(0), "0");
}

TEST(ValueText, CurrencyTextDropsTrailingZeros) {
  EXPECT_EQ(rt::CurrToStr(15000), "1.5");
  EXPECT_EQ(rt::CurrToStr(-5), "-0.0005");
  EXPECT_EQ(rt::CurrToStr(1234500), "123.45");
  EXPECT_EQ(rt::CurrToStr(30000), "3");
  EXPECT_EQ(rt::CurrToStr(INT64_MIN), "-922337203685477.5808");
}

TEST(ValueText, DateAndTimeTexts) {
  TDateTime d = rt::EncodeDate(2024, 3, 7);
  TDateTime t = rt::EncodeTime(14, 5, 9, 0);
  EXPECT_EQ(rt::DateToStr(d + t), "2024-03-07");
  EXPECT_EQ(rt::TimeToStr(d + t), "14:05:09");
  EXPECT_EQ(rt::DateTimeToStr(d + t), "2024-03-07 14:05:09");
  EXPECT_EQ(rt::DateTimeToStr(d), "2024-03-07");  // midnight: the date alone
}

TEST(ValueText, DateTimeTextsAreReadBack) {
  TDateTime d = rt::EncodeDate(2001, 2, 3);
  EXPECT_DOUBLE_EQ(rt::StrToDateTime("2001-02-03"), d);
  EXPECT_DOUBLE_EQ(rt::StrToDateTime("03/02/2001"), d);
  EXPECT_NEAR(rt::StrToDateTime(" 2001-02-03 04:05:06.5 "), d + rt::EncodeTime(4, 5, 6, 500), 1e-9);
  EXPECT_NEAR(rt::StrToDateTime("23:59"), rt::EncodeTime(23, 59, 0, 0), 1e-9);
  for (const char* bad : {"", "2001-02-30", "2001-02-03x", "24:00", "abc"})
    EXPECT_EQ(test::MessageOf<EConvertError>([&] { rt::StrToDateTime(bad); }),
              std::string("'") + bad + "' is not a valid date and time");
}

TEST(ValueText, FloatTextIsReadBack) {
  EXPECT_DOUBLE_EQ(rt::StrToFloat(" -1.5E-7 "), -1.5e-7);
  EXPECT_DOUBLE_EQ(rt::StrToFloat("42"), 42.0);
  for (const char* bad : {"", "1,5", "0x10", "1e", "inf"})
    EXPECT_EQ(test::MessageOf<EConvertError>([&] { rt::StrToFloat(bad); }),
              std::string("'") + bad + "' is not a valid floating point value");
}

}  // namespace
