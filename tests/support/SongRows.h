// Song rows for the suites that run the program on a database: numbered songs to set one up,
// and the composers a run left behind.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/FirebirdFixture.h"

namespace test {

// MUS_COMPOSITOR by MUS_CODIGO; nullopt for NULL.
using Composers = std::map<int, std::optional<std::string>>;

// Songs 1..n by `performer` titled t1..tn, without composer: page names "ana/t1" and so on.
std::vector<Song> NumberedSongs(int n, const std::string& performer = "Ana");
// The page of numbered song i by "Ana" below a site's folder: "ana/t7.html", or with a
// suffix of the later addresses, "ana/t7-cifrada.html".
std::string NumberedPage(int i, const std::string& suffix = "");
// The composer the tests give numbered song i, in Windows-1252: "José 7".
std::string NumberedComposer(int i);

// The composers of every row, read through the client (embedded for a path, through the
// server for "host/port:path"), byte for byte, with the window's login or `loginParams`; the
// reader has detached when it returns.
Composers StoredComposers(const std::string& connectString,
                          const std::vector<std::string>& loginParams = {});

}  // namespace test
