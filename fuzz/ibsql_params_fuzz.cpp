// The statement's parameter rewriting: named and positional places become "?", comments and
// quoted text pass unchanged, unterminated constructs and nameless places raise client error 55.
//
// Input: a flags part (bit 0: generate names for nameless places), then the SQL text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "db/IBErrors.h"
#include "db/IBSQL.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzz::FuzzInput input(data, size);
  const bool generateNames = input.NextByte() & 1;
  const std::string sql = input.Rest();

  std::vector<std::string> names;
  std::string rewritten;
  try {
    rewritten = TIBSQL::PreprocessSQL(sql, generateNames, names);
  } catch (const EIBClientError& e) {
    const bool known =
        e.Message == "SQL Parse Error:\r\n\r\nEOF in comment detected" ||
        e.Message == "SQL Parse Error:\r\n\r\nEOF in string detected" ||
        (!generateNames && e.Message == "SQL Parse Error:\r\n\r\nParameter name expected");
    fuzz::Check(known, "only the three parse failures", e.Message);
    return 0;
  }
  fuzz::Check(rewritten.size() <= sql.size(), "rewriting never lengthens the text", rewritten);
  const auto marks = std::count(rewritten.begin(), rewritten.end(), '?');
  fuzz::Check(static_cast<std::size_t>(marks) >= names.size(), "one ? for each parameter",
              rewritten);
  for (const std::string& name : names) {
    for (int dialect : {1, 3}) {
      (void)NormalizeIdentifier(dialect, name);
      (void)QuoteName(dialect, name);
    }
  }
  return 0;
}
