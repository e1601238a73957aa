#include "http/IdHeaderList.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <limits>

#include "runtime/Text.h"

namespace {

// What a request accepts and how it names itself unless the caller says otherwise.
constexpr std::string_view kDefaultAccept = "text/html, */*";
constexpr std::string_view kDefaultUserAgent = "Mozilla/3.0 (compatible; Lirenta)";
// The content type a response is taken to have before its headers are read.
constexpr std::string_view kDefaultResponseContentType = "text/html";

constexpr std::string_view kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::string_view kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Longest digit run read as a number: 18 digits always fit in 64 bits.
constexpr std::size_t kMaxDigits = 18;

// Decimal digits only, at least one.
bool ReadDigits(std::string_view text, int64_t& value) {
  if (text.empty() || text.size() > kMaxDigits) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  value = v;
  return true;
}

// A decimal in 0..UINT32_MAX, or the standard conversion error naming the text.
uint32_t RangeNumber(const std::string& text) {
  int64_t v;
  if (!ReadDigits(text, v) || v > int64_t(std::numeric_limits<uint32_t>::max()))
    throw EConvertError("'" + text + "' is not a valid integer value");
  return uint32_t(v);
}

int NameIndex(std::string_view text, const std::string_view (&names)[7]) {
  for (int i = 0; i < 7; ++i)
    if (rt::SameText(text, names[i])) return i;
  return -1;
}

int MonthIndex(std::string_view text) {
  for (int i = 0; i < 12; ++i)
    if (rt::SameText(text, kMonthNames[i])) return i;
  return -1;
}

// Minutes local time is ahead of UTC now.
int LocalOffsetMinutes() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (now == std::time_t(-1) || localtime_r(&now, &local) == nullptr)
    throw EIdFailedToRetreiveTimeZoneInfo();
  return int(local.tm_gmtoff / 60);
}

std::string TimeText(int hour, int minute, int second) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%.2d:%.2d:%.2d", hour, minute, second);
  return buf;
}

// The "Last-Modified" form: two-digit day, four-digit year, "GMT", and the time unconverted.
std::string GmtDateText(TDateTime value) {
  int year, month, day, hour, minute, second, msec;
  rt::DecodeDate(value, year, month, day);
  rt::DecodeTime(value, hour, minute, second, msec);
  char buf[80];
  std::snprintf(buf, sizeof buf, "%s, %.2d %s %.4d %s GMT",
                std::string(kDayNames[rt::DayOfWeek(value) - 1]).c_str(), day,
                std::string(kMonthNames[month - 1]).c_str(), year,
                TimeText(hour, minute, second).c_str());
  return buf;
}

void SetIfGiven(TIdHeaderList& lines, std::string_view name, const std::string& value) {
  if (!value.empty()) lines.SetHeader(name, value);
}

bool IsBlankOrTab(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

// --- TIdHeaderList -----------------------------------------------------------------------

void TIdHeaderList::Insert(int index, std::string line) {
  lines_.insert(lines_.begin() + index, std::move(line));
}

void TIdHeaderList::Delete(int index) {
  lines_.erase(lines_.begin() + index);
}

std::string TIdHeaderList::Text() const {
  std::string text;
  for (const auto& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TIdHeaderList::SetText(std::string_view text) {
  lines_.clear();
  AddText(text);
}

void TIdHeaderList::AddText(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines_.emplace_back(text.substr(start));
      return;
    }
    lines_.emplace_back(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
}

std::string TIdHeaderList::NameAt(int index) const {
  if (index < 0 || index >= Count()) return {};
  const std::string& line = lines_[std::size_t(index)];
  std::size_t colon = line.find(':');
  if (colon == std::string::npos) return {};
  std::string name = line.substr(0, colon);
  return NamesMatchCase ? name : rt::UpperCase(name);
}

bool TIdHeaderList::NameEquals(int index, std::string_view name) const {
  std::string_view line = lines_[std::size_t(index)];
  // A name without ":" is the line's name exactly when the line has its ":" right after it;
  // only that prefix needs comparing.
  if (!name.empty() && name.find(':') == std::string_view::npos) {
    if (line.size() <= name.size() || line[name.size()] != ':') return false;
    const std::string_view own = line.substr(0, name.size());
    return NamesMatchCase ? own == name : rt::SameText(own, name);
  }
  std::size_t colon = line.find(':');
  std::string_view own =
      colon == std::string_view::npos ? std::string_view() : line.substr(0, colon);
  return NamesMatchCase ? own == name : rt::SameText(own, name);
}

int TIdHeaderList::IndexOfHeader(std::string_view name) const {
  for (int i = 0; i < Count(); ++i)
    if (NameEquals(i, name)) return i;
  return -1;
}

bool TIdHeaderList::IsContinuation(int index) const {
  const std::string& line = lines_[std::size_t(index)];
  return !line.empty() && IsBlankOrTab(line[0]);
}

void TIdHeaderList::IndexHeaders(const std::string_view* names, std::size_t count,
                                 int* indexes) const {
  std::fill(indexes, indexes + count, -1);
  for (int i = 0; i < Count(); ++i) {
    const std::string_view line = lines_[std::size_t(i)];
    const std::size_t colon = line.find(':');
    const std::string_view own =
        colon == std::string_view::npos ? std::string_view() : line.substr(0, colon);
    for (std::size_t k = 0; k < count; ++k) {
      if (indexes[k] >= 0 || names[k].size() != own.size()) continue;
      if (NamesMatchCase ? own == names[k] : rt::SameText(own, names[k])) indexes[k] = i;
    }
  }
}

std::string TIdHeaderList::ValueAt(int index) const {
  if (index < 0 || index >= Count()) return {};
  const std::string& line = lines_[std::size_t(index)];
  // The value starts after the name and its ":"; a line without ":" has an empty name.
  std::size_t colon = line.find(':');
  std::size_t start = colon == std::string::npos ? 1 : colon + 1;
  const std::string_view first =
      start < line.size() ? std::string_view(line).substr(start) : std::string_view();
  if (!UnfoldOnRead || index + 1 >= Count() || !IsContinuation(index + 1))
    return std::string(rt::TrimView(first));
  std::string value(first);
  for (int next = index + 1; next < Count() && IsContinuation(next); ++next)
    value = rt::Trim(value) + " " + rt::Trim(lines_[std::size_t(next)]);
  return rt::Trim(value);
}

void TIdHeaderList::CollectValues(std::string_view name, std::vector<std::string>& dest) const {
  for (int i = 0; i < Count(); ++i)
    if (NameEquals(i, name)) dest.push_back(ValueAt(i));
}

void TIdHeaderList::CollectValues(std::string_view name, TIdHeaderList& dest) const {
  for (int i = 0; i < Count(); ++i)
    if (NameEquals(i, name)) dest.Add(ValueAt(i));
}

void TIdHeaderList::SetHeader(std::string_view name, std::string_view value) {
  int index = IndexOfHeader(name);
  if (value.empty()) {
    if (index < 0) return;
    while (index + 1 < Count() && IsContinuation(index + 1)) Delete(index + 1);
    Delete(index);
    return;
  }
  if (index < 0) {
    Add(std::string());
    index = Count() - 1;
  }
  while (index + 1 < Count() && IsContinuation(index + 1)) Delete(index + 1);
  std::string line;
  line.reserve(name.size() + SeparatorText.size() + value.size());
  line.append(name).append(SeparatorText).append(value);
  if (!FoldOnWrite) {
    lines_[std::size_t(index)] = std::move(line);
    return;
  }
  // A line shorter than the fold width and without a CR cannot break: folding it would only
  // drop its trailing blanks. Every request sets all its lines, so this is the common case.
  if (line.size() < std::size_t(std::max(FoldWidth, 0)) && line.find('\r') == std::string::npos) {
    line.erase(line.find_last_not_of(' ') + 1);
    lines_[std::size_t(index)] = std::move(line);
    return;
  }
  std::vector<std::string> folded = idheaders::FoldLine(line, FoldWidth);
  lines_[std::size_t(index)] = std::move(folded[0]);
  for (std::size_t k = 1; k < folded.size(); ++k)
    lines_.insert(lines_.begin() + index + int(k), std::move(folded[k]));
}

namespace idheaders {

bool ReadDecimal(std::string_view text, int64_t& value) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (!ReadDigits(text, value)) return false;
  if (negative) value = -value;
  return true;
}

std::vector<std::string> FoldLine(std::string_view text, int width) {
  // Positions count from 1 as the column counter does; text[p - 1] is the character at p.
  const std::size_t len = text.size();
  auto isBreakChar = [](char c) { return c == ' ' || c == '\t' || c == ','; };
  std::string out;
  std::size_t p = 1, linePos = 1, breakPos = 0;
  long long column = 1;
  bool quoted = false, forced = false;
  while (p <= len) {
    const char c = text[p - 1];
    if (c == '\r' && !quoted && p + 2 <= len && text[p] == '\n' && text[p + 1] == ' ') {
      // An existing CR LF + blank: break after its blank, without adding another.
      p += 2;
      breakPos = p;
      forced = true;
    } else if (isBreakChar(c)) {
      if (!quoted) breakPos = p;
    } else if (c == '"') {
      quoted = !quoted;
    }
    ++p;
    ++column;
    if (!quoted && (forced || (column > width && breakPos > linePos))) {
      column = (long long)p - (long long)breakPos;
      out.append(text.substr(linePos - 1, breakPos - linePos + 1));
      if (c != '"') {
        while (p <= len && (isBreakChar(text[p - 1]) || text[p - 1] == '\r' || text[p - 1] == '\n'))
          ++p;
      }
      if (!forced && p <= len) out += "\r\n ";
      linePos = breakPos + 1;
      forced = false;
    }
  }
  if (linePos <= len) out.append(text.substr(linePos - 1));

  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = out.find("\r\n", start);
    std::string piece =
        out.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::size_t keep = piece.find_last_not_of(' ');
    piece.resize(keep == std::string::npos ? 0 : keep + 1);
    lines.push_back(std::move(piece));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return lines;
}

}  // namespace idheaders

// --- Internet dates ----------------------------------------------------------------------

TDateTime InternetDateToLocal(std::string_view input) {
  std::string s = rt::Trim(input);
  if (s.empty()) return 0;

  // A leading day name ("Sun", "Sunday,", "Sun,06") goes with everything up to its blank.
  if (s.size() >= 3 && NameIndex(std::string_view(s).substr(0, 3), kDayNames) >= 0) {
    if (s.size() >= 5 && s[3] == ',' && s[4] != ' ') s.insert(4, 1, ' ');
    SplitAt(s, " ");
    s = rt::TrimLeft(s);
  }

  // "06-Nov-94" separates day, month and year with "-", the other forms with blanks.
  const std::size_t dash = s.find('-'), blank = s.find(' ');
  const std::string sep =
      (dash != std::string::npos && dash >= 1 && (blank == std::string::npos || dash < blank))
          ? "-"
          : " ";
  std::string first = SplitAt(s, sep);
  s = rt::TrimLeft(s);
  std::string second = SplitAt(s, sep);
  s = rt::TrimLeft(s);
  std::string dayText = first, monthText = second;
  if (MonthIndex(first) >= 0) std::swap(dayText, monthText);
  const int month = MonthIndex(monthText) + 1;  // 0 when it is no month name
  int64_t day;
  if (!ReadDigits(dayText, day)) day = 1;

  // The year; asctime puts the time before it.
  int64_t year;
  std::string cut = SplitAt(s, " ");
  s = rt::TrimLeft(s);
  if (!ReadDigits(cut, year)) {
    std::string yearText = SplitAt(s, " ");
    if (!ReadDigits(yearText, year)) return 0;
    s = cut;
  }
  if (year < 80)
    year += 2000;
  else if (year < 100)
    year += 1900;

  int64_t hour = 0, minute = 0, second_ = 0;
  if (s.find(':') != std::string::npos) {
    std::string time = SplitAt(s, " ");
    s = rt::TrimLeft(s);
    auto part = [](const std::string& text, int64_t& value) {
      if (text.empty()) {
        value = 0;
        return true;
      }
      return ReadDigits(text, value);
    };
    std::string h = SplitAt(time, ":"), m = SplitAt(time, ":");
    if (!part(h, hour) || !part(m, minute) || !part(time, second_)) return 0;
  }

  // "+hhmm" / "-hhmm"; named zones count as UTC.
  int zoneShift = 0;
  const std::string zone = rt::Trim(s);
  if (zone.size() >= 5 && (zone[0] == '+' || zone[0] == '-')) {
    int64_t zh, zm;
    if (!ReadDigits(std::string_view(zone).substr(1, 2), zh) ||
        !ReadDigits(std::string_view(zone).substr(3, 2), zm))
      return 0;
    zoneShift = int(zh * 60 + zm);
    if (zone[0] == '+') zoneShift = -zoneShift;
  }

  TDateTime date, time;
  if (month < 1 || year > 9999 || day > 31 || hour > 23 || minute > 59 || second_ > 59 ||
      !rt::TryEncodeDate(int(year), month, int(day), date) ||
      !rt::TryEncodeTime(int(hour), int(minute), int(second_), 0, time))
    return 0;
  return date + time + (zoneShift + LocalOffsetMinutes()) / 1440.0;
}

std::string LocalToInternetDate(TDateTime value) {
  int year, month, day, hour, minute, second, msec;
  rt::DecodeDate(value, year, month, day);
  rt::DecodeTime(value, hour, minute, second, msec);
  const int offset = LocalOffsetMinutes();
  const int magnitude = offset < 0 ? -offset : offset;
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%.2d%.2d", offset >= 0 ? '+' : '-', magnitude / 60,
                magnitude % 60);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s, %d %s %d %s %s",
                std::string(kDayNames[rt::DayOfWeek(value) - 1]).c_str(), day,
                std::string(kMonthNames[month - 1]).c_str(), year,
                TimeText(hour, minute, second).c_str(), zone);
  return buf;
}

// --- TIdEntityHeaderInfo -----------------------------------------------------------------

TIdEntityHeaderInfo::TIdEntityHeaderInfo() = default;

void TIdEntityHeaderInfo::Clear() {
  CacheControl.clear();
  Connection.clear();
  ContentEncoding.clear();
  ContentLanguage.clear();
  ContentType.clear();
  ContentVersion.clear();
  Pragma.clear();
  SetContentLength(-1);
  ContentRangeStart = 0;
  ContentRangeEnd = 0;
  Date = 0;
  Expires = 0;
  LastModified = 0;
  CustomHeaders.Clear();
  HeaderLines.Clear();
}

void TIdEntityHeaderInfo::ComposeHeaders() {
  HeaderLines.Clear();
  SetIfGiven(HeaderLines, "Connection", Connection);
  SetIfGiven(HeaderLines, "Content-Version", ContentVersion);
  SetIfGiven(HeaderLines, "Content-Encoding", ContentEncoding);
  SetIfGiven(HeaderLines, "Content-Language", ContentLanguage);
  SetIfGiven(HeaderLines, "Content-Type", ContentType);
  if (ContentLength() >= 0) HeaderLines.SetHeader("Content-Length", rt::IntToStr(ContentLength()));
  SetIfGiven(HeaderLines, "Cache-control", CacheControl);
  if (Date > 0) HeaderLines.SetHeader("Date", LocalToInternetDate(Date));
  if (Expires > 0) HeaderLines.SetHeader("Expires", LocalToInternetDate(Expires));
  if (LastModified > 0) HeaderLines.SetHeader("Last-Modified", GmtDateText(LastModified));
  SetIfGiven(HeaderLines, "Pragma", Pragma);
  if (!CustomHeaders.Empty()) HeaderLines.AddText(CustomHeaders.Text());
}

void TIdEntityHeaderInfo::ReadHeaders() {
  int indexes[kEntityHeaderCount];
  HeaderLines.IndexHeaders(kEntityHeaderNames, kEntityHeaderCount, indexes);
  ReadEntityHeaders(indexes);
}

void TIdEntityHeaderInfo::ReadEntityHeaders(const int* indexes) {
  auto value = [&](std::size_t k) {
    return indexes[k] < 0 ? std::string() : HeaderLines.ValueAt(indexes[k]);
  };
  Connection = value(0);
  ContentVersion = value(1);
  ContentEncoding = value(2);
  ContentLanguage = value(3);
  ContentType = value(4);
  Pragma = value(5);

  int64_t n;
  const std::string length = value(6);
  const bool fits = idheaders::ReadDecimal(rt::TrimView(length), n) &&
                    n >= std::numeric_limits<int32_t>::min() &&
                    n <= std::numeric_limits<int32_t>::max();
  SetContentLength(fits ? int32_t(n) : -1);

  Date = indexes[7] < 0 ? 0 : InternetDateToLocal(value(7));
  LastModified = indexes[8] < 0 ? 0 : InternetDateToLocal(value(8));
  // "Expires" may also be a count of seconds from now; "-1" is left to the date reader.
  const std::string expires = value(9);
  if (indexes[9] < 0)
    Expires = 0;
  else if (idheaders::ReadDecimal(rt::TrimView(expires), n) && n != -1)
    Expires = rt::Now() + double(n) / rt::kSecondsPerDay;
  else
    Expires = InternetDateToLocal(expires);
}

// --- TIdRequestHeaderInfo ----------------------------------------------------------------

TIdRequestHeaderInfo::TIdRequestHeaderInfo()
    : Accept(kDefaultAccept), UserAgent(kDefaultUserAgent) {}

void TIdRequestHeaderInfo::Clear() {
  TIdEntityHeaderInfo::Clear();
  Accept = kDefaultAccept;
  AcceptCharSet.clear();
  AcceptEncoding.clear();
  AcceptLanguage.clear();
  From.clear();
  Host.clear();
  Referer.clear();
  UserAgent = kDefaultUserAgent;
  Username.clear();
  Password.clear();
  ProxyConnection.clear();
  BasicAuthentication = false;
  AuthObject.reset();
}

namespace {

// The text fields ComposeHeaders writes, in a fixed order.
using RequestText = std::string TIdRequestHeaderInfo::*;
constexpr RequestText kComposedTexts[] = {&TIdRequestHeaderInfo::Connection,
                                          &TIdRequestHeaderInfo::ContentVersion,
                                          &TIdRequestHeaderInfo::ContentEncoding,
                                          &TIdRequestHeaderInfo::ContentLanguage,
                                          &TIdRequestHeaderInfo::ContentType,
                                          &TIdRequestHeaderInfo::CacheControl,
                                          &TIdRequestHeaderInfo::Pragma,
                                          &TIdRequestHeaderInfo::ProxyConnection,
                                          &TIdRequestHeaderInfo::Host,
                                          &TIdRequestHeaderInfo::Accept,
                                          &TIdRequestHeaderInfo::AcceptCharSet,
                                          &TIdRequestHeaderInfo::AcceptEncoding,
                                          &TIdRequestHeaderInfo::AcceptLanguage,
                                          &TIdRequestHeaderInfo::From,
                                          &TIdRequestHeaderInfo::Referer,
                                          &TIdRequestHeaderInfo::UserAgent};

}  // namespace

bool TIdRequestHeaderInfo::Reusable() const {
  return Date <= 0 && Expires <= 0 && LastModified <= 0 && !AuthObject && !BasicAuthentication;
}

bool TIdRequestHeaderInfo::SameAsComposed() const {
  const Composed& c = composed_;
  if (!c.valid || c.contentLength != ContentLength() || c.rangeStart != ContentRangeStart ||
      c.rangeEnd != ContentRangeEnd || c.foldWidth != HeaderLines.FoldWidth ||
      c.foldOnWrite != HeaderLines.FoldOnWrite || c.namesMatchCase != HeaderLines.NamesMatchCase ||
      c.separator != HeaderLines.SeparatorText)
    return false;
  for (std::size_t k = 0; k < std::size(kComposedTexts); ++k)
    if (c.texts[k] != this->*kComposedTexts[k]) return false;
  return c.customLines == CustomHeaders.Lines() && c.lines == HeaderLines.Lines();
}

void TIdRequestHeaderInfo::KeepComposed() {
  Composed& c = composed_;
  c.texts.resize(std::size(kComposedTexts));
  for (std::size_t k = 0; k < std::size(kComposedTexts); ++k) c.texts[k] = this->*kComposedTexts[k];
  c.contentLength = ContentLength();
  c.rangeStart = ContentRangeStart;
  c.rangeEnd = ContentRangeEnd;
  c.foldWidth = HeaderLines.FoldWidth;
  c.foldOnWrite = HeaderLines.FoldOnWrite;
  c.namesMatchCase = HeaderLines.NamesMatchCase;
  c.separator = HeaderLines.SeparatorText;
  c.customLines = CustomHeaders.Lines();
  c.lines = HeaderLines.Lines();
  c.valid = true;
}

void TIdRequestHeaderInfo::ComposeHeaders() {
  const bool reusable = Reusable();
  if (reusable && SameAsComposed()) return;
  composed_.valid = false;
  ComposeAll();
  if (reusable) KeepComposed();
}

void TIdRequestHeaderInfo::ComposeAll() {
  TIdEntityHeaderInfo::ComposeHeaders();
  SetIfGiven(HeaderLines, "Proxy-Connection", ProxyConnection);
  SetIfGiven(HeaderLines, "Host", Host);
  SetIfGiven(HeaderLines, "Accept", Accept);
  SetIfGiven(HeaderLines, "Accept-Charset", AcceptCharSet);
  SetIfGiven(HeaderLines, "Accept-Encoding", AcceptEncoding);
  SetIfGiven(HeaderLines, "Accept-Language", AcceptLanguage);
  SetIfGiven(HeaderLines, "From", From);
  SetIfGiven(HeaderLines, "Referer", Referer);
  SetIfGiven(HeaderLines, "User-Agent", UserAgent);
  if (LastModified > 0)
    HeaderLines.SetHeader("If-Modified-Since", LocalToInternetDate(LastModified));
  if (ContentRangeStart != 0 || ContentRangeEnd != 0) {
    std::string range = "bytes=" + rt::IntToStr(ContentRangeStart) + "-";
    if (ContentRangeEnd != 0) range += rt::IntToStr(ContentRangeEnd);
    HeaderLines.SetHeader("Range", range);
  }
  if (!AuthObject && BasicAuthentication) {
    AuthObject = std::make_unique<TIdBasicAuthentication>();
    AuthObject->Username = Username;
    AuthObject->Password = Password;
  }
  if (AuthObject) SetIfGiven(HeaderLines, "Authorization", AuthObject->Authentication());
}

// --- TIdResponseHeaderInfo ---------------------------------------------------------------

TIdResponseHeaderInfo::TIdResponseHeaderInfo() {
  ContentType = kDefaultResponseContentType;
}

void TIdResponseHeaderInfo::Clear() {
  TIdEntityHeaderInfo::Clear();
  ContentType = kDefaultResponseContentType;
  Location.clear();
  Server.clear();
  ProxyConnection.clear();
  WWWAuthenticate.Clear();
  ProxyAuthenticate.Clear();
}

void TIdResponseHeaderInfo::ReadHeaders() {
  // The entity fields' names first, then the response's own; one pass finds them all.
  static constexpr auto kNames = [] {
    std::array<std::string_view, kEntityHeaderCount + 6> names{};
    std::copy(std::begin(kEntityHeaderNames), std::end(kEntityHeaderNames), names.begin());
    const std::string_view own[] = {"Location",      "Server",           "Proxy-Connection",
                                    "Content-Range", "WWW-Authenticate", "Proxy-Authenticate"};
    std::copy(std::begin(own), std::end(own), names.begin() + kEntityHeaderCount);
    return names;
  }();
  int indexes[kNames.size()];
  HeaderLines.IndexHeaders(kNames.data(), kNames.size(), indexes);
  const int* own = indexes + kEntityHeaderCount;

  auto value = [&](int index) { return index < 0 ? std::string() : HeaderLines.ValueAt(index); };
  Location = value(own[0]);
  Server = value(own[1]);
  ProxyConnection = value(own[2]);

  // "bytes 0-499/1234"
  std::string range = value(own[3]);
  if (!range.empty()) {
    SplitAt(range, " ");
    ContentRangeStart = RangeNumber(SplitAt(range, "-"));
    ContentRangeEnd = RangeNumber(SplitAt(range, "/"));
  } else {
    ContentRangeStart = 0;
    ContentRangeEnd = 0;
  }

  WWWAuthenticate.Clear();
  if (own[4] >= 0) HeaderLines.CollectValues("WWW-Authenticate", WWWAuthenticate);
  ProxyAuthenticate.Clear();
  if (own[5] >= 0) HeaderLines.CollectValues("Proxy-Authenticate", ProxyAuthenticate);

  ReadEntityHeaders(indexes);
}

// --- TIdProxyConnectionInfo --------------------------------------------------------------

void TIdProxyConnectionInfo::Clear() {
  ProxyServer.clear();
  ProxyPort = 0;
  ProxyUsername.clear();
  ProxyPassword.clear();
  BasicAuthentication = false;
  AuthObject.reset();
}

void TIdProxyConnectionInfo::AddHeaders(TIdHeaderList& headers) {
  if (!BasicAuthentication) return;
  TIdBasicAuthentication basic;
  basic.Username = ProxyUsername;
  basic.Password = ProxyPassword;
  headers.SetHeader("Proxy-Authorization", basic.Authentication());
}
