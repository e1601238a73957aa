// Text forms of numbers and date-time values, and the reverse for dates.
//
// The forms are fixed, not taken from the process locale: "." separates decimals, dates are
// written year-month-day ("2024-03-07"), times as hours, minutes and seconds ("14:05:09"). The
// date-time text leaves the time out when it is exactly midnight, as the usual date-time text
// does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/DateTime.h"

namespace rt {

// Significant digits of the general floating-point text.
constexpr int kFloatTextDigits = 15;

// The general form with up to 15 significant digits: "0.1", "12345", "1.5E-7", "1E20".
std::string FloatToStr(double value);
// A currency value given as a count of ten-thousandths, without trailing zeros: 15000 -> "1.5".
std::string CurrToStr(int64_t tenThousandths);

std::string DateToStr(TDateTime value);
std::string TimeToStr(TDateTime value);
std::string DateTimeToStr(TDateTime value);

// Reads "yyyy-mm-dd", "dd/mm/yyyy", either followed by a blank and a time, or a time alone
// ("hh:nn", "hh:nn:ss", "hh:nn:ss.zzz"). Anything else raises EConvertError
// "'%s' is not a valid date and time".
TDateTime StrToDateTime(std::string_view text);
// Reads a decimal number with "." as separator and an optional exponent; anything else raises
// EConvertError "'%s' is not a valid floating point value".
double StrToFloat(std::string_view text);

}  // namespace rt
