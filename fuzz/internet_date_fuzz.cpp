// Internet date texts: reading every form servers send, and writing a date that was read.
//
// Input: the date text.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "fuzz/FuzzInput.h"
#include "http/IdHeaderList.h"
#include "runtime/DateTime.h"

namespace {

// One second as a fraction of a day, the resolution of the texts.
constexpr double kOneSecond = 1.0 / 86400.0;
// Day counts beyond the years 100 and 9999 the reader accepts, zone offsets included: a date
// read lies between them, or is 0 for an unreadable text.
constexpr double kBeforeEveryDate = -700000;
constexpr double kAfterEveryDate = 3000000;

}  // namespace

// The reader adds the offset in force now, the writer the offset of the date written: under a
// zone with daylight saving the two differ, so the round trip is checked in UTC.
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  setenv("TZ", "UTC", 1);
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const TDateTime value = InternetDateToLocal(text);
  fuzz::Check(std::isfinite(value), "a date read is a finite number", text);
  fuzz::Check(value == 0 || (value > kBeforeEveryDate && value < kAfterEveryDate),
              "a date read lies in the years the reader accepts", text);

  // A date read in the years the reader accepts writes out as a text that reads back the same.
  static const TDateTime kFirst = rt::EncodeDate(1900, 1, 1);
  static const TDateTime kLast = rt::EncodeDate(9999, 12, 30);
  if (value >= kFirst && value < kLast) {
    const std::string written = LocalToInternetDate(value);
    const TDateTime again = InternetDateToLocal(written);
    fuzz::Check(std::fabs(again - value) < kOneSecond, "a written date reads back", written);
  }
  return 0;
}
