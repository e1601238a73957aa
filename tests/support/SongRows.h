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

// The composers of every row, read through the client (embedded for a path, through the
// server for "host/port:path"), byte for byte; the reader has detached when it returns.
Composers StoredComposers(const std::string& connectString);

}  // namespace test
