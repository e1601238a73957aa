#include "runtime/ValueText.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "runtime/Exception.h"
#include "runtime/Text.h"

namespace rt {

namespace {

std::string TwoDigits(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

bool ReadNumber(std::string_view text, std::size_t& pos, int maxDigits, int& out) {
  std::size_t start = pos;
  out = 0;
  while (pos < text.size() && pos - start < std::size_t(maxDigits) && text[pos] >= '0' &&
         text[pos] <= '9') {
    out = out * 10 + (text[pos] - '0');
    ++pos;
  }
  return pos > start;
}

bool Expect(std::string_view text, std::size_t& pos, char c) {
  if (pos < text.size() && text[pos] == c) {
    ++pos;
    return true;
  }
  return false;
}

bool ReadDate(std::string_view text, std::size_t& pos, TDateTime& out) {
  std::size_t p = pos;
  int a, b, c;
  if (!ReadNumber(text, p, 4, a)) return false;
  if (p - pos == 4) {  // yyyy-mm-dd
    if (!Expect(text, p, '-') || !ReadNumber(text, p, 2, b) || !Expect(text, p, '-') ||
        !ReadNumber(text, p, 2, c) || !TryEncodeDate(a, b, c, out))
      return false;
  } else {  // dd/mm/yyyy
    if (!Expect(text, p, '/') || !ReadNumber(text, p, 2, b) || !Expect(text, p, '/') ||
        !ReadNumber(text, p, 4, c) || !TryEncodeDate(c, b, a, out))
      return false;
  }
  pos = p;
  return true;
}

bool ReadTime(std::string_view text, std::size_t& pos, TDateTime& out) {
  std::size_t p = pos;
  int h, n, s = 0, z = 0;
  if (!ReadNumber(text, p, 2, h) || !Expect(text, p, ':') || !ReadNumber(text, p, 2, n))
    return false;
  if (Expect(text, p, ':')) {
    if (!ReadNumber(text, p, 2, s)) return false;
    if (Expect(text, p, '.')) {
      std::size_t q = p;
      if (!ReadNumber(text, p, 3, z)) return false;
      for (std::size_t d = p - q; d < 3; ++d) z *= 10;
    }
  }
  if (!TryEncodeTime(h, n, s, z, out)) return false;
  pos = p;
  return true;
}

}  // namespace

std::string FloatToStr(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*G", kFloatTextDigits, value);
  std::string text = buf;
  std::size_t e = text.find('E');
  if (e == std::string::npos) return text;
  // The exponent without "+" and without leading zeros: 1E+20 -> 1E20, 1.5E-07 -> 1.5E-7.
  std::string mantissa = text.substr(0, e);
  std::string exponent = text.substr(e + 1);
  bool negative = !exponent.empty() && exponent[0] == '-';
  if (!exponent.empty() && (exponent[0] == '-' || exponent[0] == '+')) exponent.erase(0, 1);
  std::size_t nz = exponent.find_first_not_of('0');
  exponent = nz == std::string::npos ? "0" : exponent.substr(nz);
  return mantissa + "E" + (negative ? "-" : "") + exponent;
}

std::string CurrToStr(int64_t tenThousandths) {
  bool negative = tenThousandths < 0;
  uint64_t magnitude = negative ? uint64_t(0) - uint64_t(tenThousandths) : uint64_t(tenThousandths);
  std::string text = std::to_string(magnitude / 10000);
  uint64_t fraction = magnitude % 10000;
  if (fraction != 0) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04u", unsigned(fraction));
    std::string digits = buf;
    digits.erase(digits.find_last_not_of('0') + 1);
    text += "." + digits;
  }
  return negative ? "-" + text : text;
}

std::string DateToStr(TDateTime value) {
  int y, m, d;
  DecodeDate(value, y, m, d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

std::string TimeToStr(TDateTime value) {
  int h, n, s, z;
  DecodeTime(value, h, n, s, z);
  return TwoDigits(h) + ":" + TwoDigits(n) + ":" + TwoDigits(s);
}

std::string DateTimeToStr(TDateTime value) {
  int h, n, s, z;
  DecodeTime(value, h, n, s, z);
  if (h == 0 && n == 0 && s == 0 && z == 0) return DateToStr(value);
  return DateToStr(value) + " " + TimeToStr(value);
}

TDateTime StrToDateTime(std::string_view text) {
  std::string trimmed = Trim(text);
  std::string_view t = trimmed;
  std::size_t pos = 0;
  TDateTime date = 0, time = 0;
  bool ok = false;
  if (ReadDate(t, pos, date)) {
    ok = pos == t.size();
    if (!ok && Expect(t, pos, ' ')) ok = ReadTime(t, pos, time) && pos == t.size();
  } else {
    pos = 0;
    ok = ReadTime(t, pos, time) && pos == t.size();
  }
  if (!ok) throw EConvertError("'" + std::string(text) + "' is not a valid date and time");
  return date < 0 ? date - time : date + time;
}

double StrToFloat(std::string_view text) {
  std::string trimmed = Trim(text);
  bool ok = !trimmed.empty();
  for (char c : trimmed)
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
      ok = false;
  double value = 0;
  if (ok) {
    char* end = nullptr;
    value = std::strtod(trimmed.c_str(), &end);
    ok = end == trimmed.c_str() + trimmed.size();
  }
  if (!ok) throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  return value;
}

}  // namespace rt
