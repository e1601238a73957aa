// Finding a header line by its name compares only the text before the line's first ":". The
// lookups take a short way for names without ":"; these cases hold IndexOfHeader, ValueOf,
// IndexHeaders and CollectValues to the names NameAt reports, over lines with and without ":",
// with a ":" early, late or doubled, and names in any letter case. The header list fuzz target
// holds the lookups to the same rule over arbitrary lines and names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/IdHeaderList.h"
#include "runtime/Text.h"

namespace {

// The index of the first line whose NameAt equals `name` upper-cased: the rule, from NameAt.
int IndexByNameAt(const TIdHeaderList& list, const std::string& name) {
  for (int i = 0; i < list.Count(); ++i)
    if (list.NameAt(i) == rt::UpperCase(name)) return i;
  return -1;
}

TEST(HeaderNameMatch, LookupsFollowTheTextBeforeTheFirstColon) {
  TIdHeaderList list;
  list.SetText(
      "Plain line\r\n"
      ": starts with a colon\r\n"
      "X-A: one\r\n"
      "x-a:two\r\n"
      "X-A : blank before the colon\r\n"
      "X-B:: doubled\r\n"
      "X-C: has: another\r\n"
      "Set-Cookie: a=1\r\n"
      "set-cookie: b=2\r\n"
      "Set-Cookie2: c=3\r\n");
  for (const std::string name : {"X-A", "x-a", "X-A ", "X-B", "X-B:", "X-C", "X-C: has", "",
                                 "Plain line", "Set-Cookie", "SET-COOKIE2", "Set-Cookie ", "Y"}) {
    EXPECT_EQ(list.IndexOfHeader(name), IndexByNameAt(list, name)) << "[" << name << "]";
    EXPECT_EQ(list.ValueOf(name), list.ValueAt(IndexByNameAt(list, name))) << "[" << name << "]";
    const std::string_view view = name;
    int index = -2;
    list.IndexHeaders(&view, 1, &index);
    EXPECT_EQ(index, IndexByNameAt(list, name)) << "[" << name << "]";
  }
  std::vector<std::string> cookies;
  list.CollectValues("set-cookie", cookies);
  EXPECT_EQ(cookies, (std::vector<std::string>{"a=1", "b=2"}));
}

}  // namespace
