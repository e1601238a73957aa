#include "runtime/DateTime.h"

#include <chrono>
#include <cmath>

#include "runtime/Exception.h"

namespace rt {

namespace {
constexpr int kDaysInMonth[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                     {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
// Days from 0001-01-01 to 1899-12-30.
constexpr int kDelta = 693594;
}  // namespace

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (year < 1 || year > 9999 || month < 1 || month > 12) return false;
  const int* days = kDaysInMonth[IsLeapYear(year) ? 1 : 0];
  if (day < 1 || day > days[month - 1]) return false;
  int d = day;
  for (int m = 1; m < month; ++m) d += days[m - 1];
  int y = year - 1;
  d += y * 365 + y / 4 - y / 100 + y / 400;
  // Day 1 of year 1 counts as 1, so 1899-12-30 lands on 0.
  out = double(d) - kDelta;
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 ||
      msec > 999)
    return false;
  out = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / 86400000.0;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime v;
  if (!TryEncodeDate(year, month, day, v)) throw EConvertError("Invalid argument to date encode");
  return v;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  TDateTime v;
  if (!TryEncodeTime(hour, minute, second, msec, v))
    throw EConvertError("Invalid argument to time encode");
  return v;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  // Civil-from-days (proleptic Gregorian) on days since 1970-01-01.
  long long z = static_cast<long long>(std::floor(value)) - static_cast<long long>(kUnixEpochDays);
  z += 719468;
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  long long doe = z - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long y = yoe + era * 400;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long long mp = (5 * doy + 2) / 153;
  day = int(doy - (153 * mp + 2) / 5 + 1);
  month = int(mp < 10 ? mp + 3 : mp - 9);
  year = int(y + (month <= 2 ? 1 : 0));
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec) {
  double frac = value - std::floor(value);
  long long ms = std::llround(frac * 86400000.0);
  if (ms >= 86400000) ms = 86399999;
  hour = int(ms / 3600000);
  minute = int(ms / 60000 % 60);
  second = int(ms / 1000 % 60);
  msec = int(ms % 1000);
}

int DayOfWeek(TDateTime value) {
  long long d = static_cast<long long>(std::floor(value));
  // 1899-12-30 was a Saturday (7).
  long long w = ((d % 7) + 7 + 6) % 7;
  return int(w) + 1;
}

TDateTime UnixToDateTime(int64_t seconds) {
  return kUnixEpochDays + double(seconds) / kSecondsPerDay;
}

int64_t DateTimeToUnix(TDateTime value) {
  return static_cast<int64_t>(std::llround((value - kUnixEpochDays) * kSecondsPerDay));
}

TDateTime NowUtc() {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  double ms = double(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
  return kUnixEpochDays + ms / 86400000.0;
}

TDateTime Now() {
  return NowUtc() + LocalOffsetMinutes() / 1440.0;
}

int LocalOffsetMinutes(std::time_t at) {
  std::tm local{};
  localtime_r(&at, &local);
  return int(local.tm_gmtoff / 60);
}

}  // namespace rt
