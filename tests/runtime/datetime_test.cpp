#include "runtime/DateTime.h"

#include <gtest/gtest.h>

#include "runtime/Exception.h"

namespace {

TEST(DateTime, DayCountsStartAt18991230) {
  EXPECT_DOUBLE_EQ(rt::EncodeDate(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(rt::EncodeDate(1900, 1, 1), 2.0);
  EXPECT_DOUBLE_EQ(rt::EncodeDate(1970, 1, 1), rt::kUnixEpochDays);
  EXPECT_DOUBLE_EQ(rt::EncodeDate(2000, 3, 1), 36586.0);
}

TEST(DateTime, DecodeRoundTripsAcrossLeapYears) {
  for (int y : {1600, 1899, 1900, 2000, 2024, 2100, 9999})
    for (int m = 1; m <= 12; ++m)
      for (int d : {1, 28}) {
        int yy, mm, dd;
        rt::DecodeDate(rt::EncodeDate(y, m, d), yy, mm, dd);
        ASSERT_EQ(yy * 10000 + mm * 100 + dd, y * 10000 + m * 100 + d);
      }
  EXPECT_THROW(rt::EncodeDate(2023, 2, 29), EConvertError);
  EXPECT_NO_THROW(rt::EncodeDate(2024, 2, 29));
}

TEST(DateTime, TimeOfDayAndWeekday) {
  TDateTime t = rt::EncodeDate(2026, 12, 8) + rt::EncodeTime(13, 45, 30, 250);
  int h, mi, s, ms;
  rt::DecodeTime(t, h, mi, s, ms);
  EXPECT_EQ(h * 10000000 + mi * 100000 + s * 1000 + ms, 134530250);
  EXPECT_EQ(rt::DayOfWeek(rt::EncodeDate(2026, 12, 8)), 3);  // a Tuesday
  EXPECT_THROW(rt::EncodeTime(24, 0, 0, 0), EConvertError);
}

TEST(DateTime, UnixSecondsConvertBothWays) {
  EXPECT_EQ(rt::DateTimeToUnix(rt::UnixToDateTime(1700000000)), 1700000000);
  EXPECT_DOUBLE_EQ(rt::UnixToDateTime(86400), rt::kUnixEpochDays + 1);
}

}  // namespace
