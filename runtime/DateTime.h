// Date-time values as day counts: whole days since 1899-12-30, the time of day as the
// fraction. This is the form the system's date helpers and cookie expiry work in.
#pragma once

#include <cstdint>
#include <ctime>

using TDateTime = double;

namespace rt {

constexpr double kSecondsPerDay = 86400.0;
// Day number of 1970-01-01 in this count.
constexpr double kUnixEpochDays = 25569.0;

bool TryEncodeDate(int year, int month, int day, TDateTime& out);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out);
// Raise EConvertError "Invalid argument to date encode" / "Invalid argument to time encode".
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec);
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime value);
bool IsLeapYear(int year);

TDateTime UnixToDateTime(int64_t seconds);
int64_t DateTimeToUnix(TDateTime value);

// The current local time and UTC time.
TDateTime Now();
TDateTime NowUtc();
// Offset of local time from UTC in minutes (east positive) at the given moment, from the C
// library's time-zone rules.
int LocalOffsetMinutes(std::time_t at);
inline int LocalOffsetMinutes() {
  return LocalOffsetMinutes(std::time(nullptr));
}

}  // namespace rt
