// The update run's options and what it counts as it goes: the one set of values a program
// hands to the main window for its run, and the one record the run leaves of it.
#pragma once

#include <cstdint>
#include <string>

#include "app/SiteTrouble.h"

namespace app {

// How an update run goes; both programs read them from one command line (app/CommandLine.h).
struct RunOptions {
  std::string reportFile;    // the lookup report's file; empty: no report
  bool dryRun = false;       // every lookup as in a real run, no UPDATE, a rollback at the end
  bool onlyMissing = false;  // songs whose stored composer has a value are skipped
  Seconds maxWait = kDefaultMaxWait;  // how long the site's trouble is waited out
};

// What the last update run did, counted as it went.
struct RunTally {
  int32_t total = 0;              // songs counted at the start
  int32_t done = 0;               // rows walked, skipped ones too
  int32_t lookedUp = 0;           // songs whose pages were asked for
  int32_t found = 0;              // composers found
  int32_t written = 0;            // UPDATEs executed
  int32_t committed = 0;          // of those, the ones committed
  int32_t skipped = 0;            // songs passed over because they have a composer
  int32_t inUse = 0;              // composers not written: another run holds the row
  int32_t left = 0;               // songs left: not looked up after their lookups
  bool reportIncomplete = false;  // a report line could not be written
  bool ended = false;             // the final commit (or a dry run's rollback) went through
  bool siteSilent = false;        // the run stopped: the site gave nothing but trouble too long
  bool connectionLost = false;    // the run stopped: the connection to the database was lost
};

}  // namespace app
