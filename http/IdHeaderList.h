// Header blocks and the typed header fields of requests and responses.
//
// A header block is an ordered list of lines "Name: value". Lines that begin with a blank or a
// tab continue the line before them: reading a value joins them, setting a value folds a long
// line into such continuation lines and replaces any that were there. Reading never fails and
// never looks outside the list or a line.
//
// The header-information classes carry a message's fields; ComposeHeaders turns the fields into
// HeaderLines before a request is sent, ReadHeaders turns a received HeaderLines back into
// fields. Internet date texts (the three forms servers send) are read into local day-count
// date-times and written from them here too.
#pragma once

#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "http/IdAuthentication.h"
#include "http/IdException.h"
#include "runtime/DateTime.h"

// The C library could not say how far local time is from UTC.
class EIdFailedToRetreiveTimeZoneInfo : public EIdException {
 public:
  EIdFailedToRetreiveTimeZoneInfo()
      : EIdException("Failed attempting to retrieve time zone information.") {}
};

// Column limit of folding for a plain header list.
constexpr int kIdDefaultFoldWidth = 78;
// Column limit of folding for the lines a message is sent with: only very long lines break.
constexpr int kIdHeaderLinesFoldWidth = 1024;

class TIdHeaderList {
 public:
  explicit TIdHeaderList(int foldWidth = kIdDefaultFoldWidth) : FoldWidth(foldWidth) {}

  // --- the plain list -------------------------------------------------------------------
  int Count() const { return int(lines_.size()); }
  bool Empty() const { return lines_.empty(); }
  // The line at `index` (0-based, must be inside the list).
  const std::string& operator[](int index) const { return lines_[std::size_t(index)]; }
  const std::vector<std::string>& Lines() const { return lines_; }
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Insert(int index, std::string line);
  void Delete(int index);
  void Clear() { lines_.clear(); }
  // Every line followed by CR LF.
  std::string Text() const;
  // Replaces the lines with the lines of `text`, split at CR LF, LF or CR.
  void SetText(std::string_view text);
  // Appends the lines of `text`, split as for SetText.
  void AddText(std::string_view text);

  // --- header access --------------------------------------------------------------------
  // The line's text before its first ":" (upper-cased unless NamesMatchCase); empty when the
  // line has no ":" or `index` is outside the list.
  std::string NameAt(int index) const;
  // Index of the first line whose name equals `name`; -1 when none.
  int IndexOfHeader(std::string_view name) const;
  // The value of the line at `index` with its continuation lines joined by one blank, trimmed;
  // empty for an index outside the list.
  std::string ValueAt(int index) const;
  std::string ValueOf(std::string_view name) const { return ValueAt(IndexOfHeader(name)); }
  // IndexOfHeader of each of the `count` names, in one pass over the lines: `indexes[k]` for
  // `names[k]`.
  void IndexHeaders(const std::string_view* names, std::size_t count, int* indexes) const;
  // Appends the value of every line named `name`, in list order.
  void CollectValues(std::string_view name, std::vector<std::string>& dest) const;
  void CollectValues(std::string_view name, TIdHeaderList& dest) const;
  // Sets the line `name`: replaces the first such line and its continuation lines, or appends
  // one; an empty value removes the line and its continuation lines.
  void SetHeader(std::string_view name, std::string_view value);

  // --- settings -------------------------------------------------------------------------
  std::string SeparatorText = ": ";  // only its ":" counts when reading
  bool NamesMatchCase = false;
  bool UnfoldOnRead = true;
  bool FoldOnWrite = true;
  int FoldWidth;

 private:
  bool NameEquals(int index, std::string_view name) const;
  bool IsContinuation(int index) const;

  std::vector<std::string> lines_;
};

namespace idheaders {

// Folds `line` at `width` columns (break after a blank, tab or ",", never inside double quotes;
// an existing CR LF + blank is kept as a break) into the lines it becomes, trailing blanks
// removed. Continuation lines begin with one blank.
std::vector<std::string> FoldLine(std::string_view line, int width);

// An optional sign and 1 to 18 decimal digits, nothing else; false otherwise.
bool ReadDecimal(std::string_view text, int64_t& value);

}  // namespace idheaders

// Reads an Internet date text (RFC 1123, RFC 850 and asctime forms, two- or four-digit years,
// numeric or named zones) into local time; 0 for an empty or unreadable text.
TDateTime InternetDateToLocal(std::string_view text);
// "Sun, 6 Nov 1994 08:49:37 +0100": the local date-time with the local offset from UTC.
std::string LocalToInternetDate(TDateTime value);

// Fields every message may carry.
class TIdEntityHeaderInfo {
 public:
  TIdEntityHeaderInfo();
  virtual ~TIdEntityHeaderInfo() = default;
  TIdEntityHeaderInfo(const TIdEntityHeaderInfo&) = delete;
  TIdEntityHeaderInfo& operator=(const TIdEntityHeaderInfo&) = delete;

  // Back to the initial state; empties HeaderLines and CustomHeaders.
  virtual void Clear();
  // Fields -> HeaderLines (replaced).
  virtual void ComposeHeaders();
  // HeaderLines -> fields.
  virtual void ReadHeaders();

  // The entity fields' header names, in the order of the indexes ReadEntityHeaders takes.
  static constexpr std::string_view kEntityHeaderNames[] = {
      "Connection",    "Content-Version", "Content-Encoding", "Content-Language",
      "Content-Type",  "Pragma",          "Content-Length",   "Date",
      "Last-Modified", "Expires"};
  static constexpr std::size_t kEntityHeaderCount = std::size(kEntityHeaderNames);

  // -1 means none; assigning also sets LengthGiven (true for values >= 0).
  int32_t ContentLength() const { return contentLength_; }
  void SetContentLength(int32_t value) {
    contentLength_ = value;
    lengthGiven_ = value >= 0;
  }
  bool LengthGiven() const { return lengthGiven_; }

  std::string CacheControl;
  std::string Connection;
  std::string ContentEncoding;
  std::string ContentLanguage;
  std::string ContentType;
  std::string ContentVersion;
  std::string Pragma;
  uint32_t ContentRangeStart = 0;
  uint32_t ContentRangeEnd = 0;
  TDateTime Date = 0;  // 0 = none, likewise Expires and LastModified
  TDateTime Expires = 0;
  TDateTime LastModified = 0;
  TIdHeaderList CustomHeaders{kIdDefaultFoldWidth};
  TIdHeaderList HeaderLines{kIdHeaderLinesFoldWidth};

 protected:
  // HeaderLines -> the entity fields, given the index of each of kEntityHeaderNames' lines.
  void ReadEntityHeaders(const int* indexes);

 private:
  int32_t contentLength_ = -1;
  bool lengthGiven_ = false;
};

class TIdRequestHeaderInfo : public TIdEntityHeaderInfo {
 public:
  TIdRequestHeaderInfo();

  // Also restores Accept and UserAgent and drops the AuthObject.
  void Clear() override;
  void ComposeHeaders() override;

  std::string Accept;
  std::string AcceptCharSet;
  std::string AcceptEncoding;
  std::string AcceptLanguage;
  std::string From;
  std::string Host;
  std::string Referer;
  std::string UserAgent;
  std::string Username;
  std::string Password;
  std::string ProxyConnection;
  bool BasicAuthentication = false;
  std::unique_ptr<TIdAuthentication> AuthObject;

 private:
  // What the last ComposeHeaders was given and what it wrote. A request whose fields are the
  // same, and whose HeaderLines nobody changed since, keeps its lines: a client sends the same
  // lines request after request. Dates (written in the local time zone of the moment) and
  // authentication (an object's text) are composed afresh every time.
  struct Composed {
    bool valid = false;
    std::vector<std::string> texts;
    int32_t contentLength = -1;
    uint32_t rangeStart = 0;
    uint32_t rangeEnd = 0;
    int foldWidth = 0;
    bool foldOnWrite = false;
    bool namesMatchCase = false;
    std::string separator;
    std::vector<std::string> customLines;
    std::vector<std::string> lines;
  };
  bool Reusable() const;
  bool SameAsComposed() const;
  void KeepComposed();
  // Every field -> HeaderLines.
  void ComposeAll();

  Composed composed_;
};

class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
 public:
  TIdResponseHeaderInfo();

  void Clear() override;
  // Also raises EConvertError for a "Content-Range" whose numbers do not read.
  void ReadHeaders() override;

  std::string Location;
  std::string Server;
  std::string ProxyConnection;
  TIdHeaderList WWWAuthenticate;
  TIdHeaderList ProxyAuthenticate;
};

// How a request reaches a proxy; empty when there is none.
class TIdProxyConnectionInfo {
 public:
  void Clear();
  // With BasicAuthentication set, sets "Proxy-Authorization" in `headers` from the proxy's
  // user name and password; otherwise adds nothing.
  void AddHeaders(TIdHeaderList& headers);

  std::string ProxyServer;
  uint16_t ProxyPort = 0;
  std::string ProxyUsername;
  std::string ProxyPassword;
  bool BasicAuthentication = false;
  std::unique_ptr<TIdAuthentication> AuthObject;
};
