// Finding a header line by its name compares only the text before the line's first ":". The
// lookups take a short way for names without ":"; these cases hold IndexOfHeader, ValueOf,
// CollectValues and IndexHeaders (several names in one pass) to the names NameAt reports, over
// lines with and without ":", with a ":" early, late or doubled, and names in any letter case.
#include <gtest/gtest.h>

#include <random>
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
  }
  std::vector<std::string> cookies;
  list.CollectValues("set-cookie", cookies);
  EXPECT_EQ(cookies, (std::vector<std::string>{"a=1", "b=2"}));
}

TEST(HeaderNameMatch, RandomLinesAndNames) {
  const std::string letters = "aAbB:- ";
  std::mt19937 random(7);
  auto text = [&](std::size_t most) {
    std::string t(random() % (most + 1), ' ');
    for (char& c : t) c = letters[random() % letters.size()];
    return t;
  };
  for (int round = 0; round < 2000; ++round) {
    TIdHeaderList list;
    for (int k = 0; k < 4; ++k) list.Add(text(6));
    const std::string names[] = {text(3), text(3), text(3)};
    const std::string_view views[] = {names[0], names[1], names[2]};
    int indexes[3];
    list.IndexHeaders(views, 3, indexes);
    for (int k = 0; k < 3; ++k) {
      ASSERT_EQ(list.IndexOfHeader(names[k]), IndexByNameAt(list, names[k]))
          << "[" << names[k] << "] in [" << list.Text() << "]";
      ASSERT_EQ(indexes[k], IndexByNameAt(list, names[k]))
          << "[" << names[k] << "] in [" << list.Text() << "]";
    }
  }
}

}  // namespace
