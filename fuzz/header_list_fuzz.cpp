// Header blocks: reading names and values (with continuation lines), setting a header with its
// folding, folding a line on its own, and reading a response's fields from a block.
// A header set on an empty list is written exactly as folding its line gives it, whether the
// line is short enough to be kept whole or long enough to break. Every lookup by name finds the
// first line whose name (the text before its first ":") is the name asked, in any letter case.
//
// Input parts: the header block, a name, a value, a fold width byte.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "http/IdHeaderList.h"
#include "runtime/Exception.h"
#include "runtime/Text.h"

namespace {

// The text without the characters folding may drop at a break.
std::string WithoutBreakCharacters(std::string_view text) {
  std::string out;
  for (char c : text)
    if (c != ' ' && c != '\t' && c != ',' && c != '\r' && c != '\n') out += c;
  return out;
}

// A name folding cannot break and reading finds whole: no break character, no quote, no ":".
bool IsPlainName(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name)
    if (c == ':' || c == '\r' || c == '\n' || c == ' ' || c == '\t' || c == ',' || c == '"')
      return false;
  return true;
}

bool IsTrimmed(const std::string& text) {
  return text.empty() || (static_cast<unsigned char>(text.front()) > 0x20 &&
                          static_cast<unsigned char>(text.back()) > 0x20);
}

// The index of the first line whose NameAt equals `name` upper-cased: the rule, from NameAt.
int IndexByNameAt(const TIdHeaderList& list, const std::string& name) {
  for (int i = 0; i < list.Count(); ++i)
    if (list.NameAt(i) == rt::UpperCase(name)) return i;
  return -1;
}

void CheckLookups(const TIdHeaderList& list, const std::string& first, const std::string& second) {
  const std::string_view names[] = {first, second};
  int indexes[2];
  list.IndexHeaders(names, 2, indexes);
  for (int k = 0; k < 2; ++k) {
    const std::string name(names[k]);
    const int expected = IndexByNameAt(list, name);
    fuzz::Check(list.IndexOfHeader(name) == expected, "IndexOfHeader follows NameAt", name);
    fuzz::Check(indexes[k] == expected, "IndexHeaders follows NameAt", name);
  }
}

void ReadEveryLine(const TIdHeaderList& list) {
  for (int i = -1; i <= list.Count(); ++i) {
    std::string name = list.NameAt(i);
    std::string value = list.ValueAt(i);
    fuzz::Check(IsTrimmed(value), "a value is trimmed", value);
    if (i < 0 || i >= list.Count())
      fuzz::Check(name.empty() && value.empty(), "outside the list everything is empty");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzz::FuzzInput input(data, size);
  const std::string block = input.Next();
  const std::string name = input.Next();
  const std::string value = input.Next();
  const int width = static_cast<int>(input.NextByte() % 100);

  TIdHeaderList list;
  list.SetText(block);
  ReadEveryLine(list);
  CheckLookups(list, name, value);
  std::vector<std::string> collected;
  list.CollectValues(name, collected);
  int index = list.IndexOfHeader(name);
  fuzz::Check(index >= -1 && index < list.Count(), "IndexOfHeader stays inside the list");
  fuzz::Check((index >= 0) == !collected.empty(), "a found name has collected values");

  list.SetHeader(name, value);
  ReadEveryLine(list);
  if (!value.empty() && IsPlainName(name))
    fuzz::Check(list.IndexOfHeader(name) >= 0, "a header that was set is found", name);

  // Folding never drops anything but the break characters.
  const std::string line = name + ": " + value;
  const std::vector<std::string> folded = idheaders::FoldLine(line, width);
  std::string joined;
  for (const std::string& piece : folded) joined += piece;
  fuzz::Check(WithoutBreakCharacters(joined) == WithoutBreakCharacters(line),
              "folding keeps every character but breaks", joined);
  if (!value.empty()) {
    TIdHeaderList fresh(width);
    fresh.SetHeader(name, value);
    fuzz::Check(fresh.Lines() == folded, "a header set is written as folding gives it", line);
  }

  int64_t number = 0;
  idheaders::ReadDecimal(value, number);

  // A response's fields from the same block; only an unreadable Content-Range may raise.
  TIdResponseHeaderInfo response;
  response.HeaderLines.SetText(block);
  try {
    response.ReadHeaders();
  } catch (const EConvertError&) {
  }
  fuzz::Check(response.LengthGiven() == (response.ContentLength() >= 0),
              "LengthGiven follows ContentLength");
  response.HeaderLines.SetHeader(name, value);
  ReadEveryLine(response.HeaderLines);
  response.ComposeHeaders();
  ReadEveryLine(response.HeaderLines);
  return 0;
}
