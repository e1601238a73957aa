// The query's parameter scan: `:Name` places become "?" and parameters, "::" a literal colon,
// quoted literals and :"Quoted Names" as the dataset reads them.
//
// Input: the SQL text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "db/Params.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string sql(reinterpret_cast<const char*>(data), size);

  const std::string owner = "Q_Fuzz";
  TParams params(&owner);
  const std::string rewritten = params.ParseSQL(sql, true);
  fuzz::Check(rewritten.size() <= sql.size(), "the scan never lengthens the text", rewritten);
  const auto marks = std::count(rewritten.begin(), rewritten.end(), '?');
  fuzz::Check(static_cast<std::size_t>(marks) >= static_cast<std::size_t>(params.Count()),
              "one ? for each parameter", rewritten);

  // Scanning without creating gives the same text and leaves the collection alone.
  const int count = params.Count();
  fuzz::Check(params.ParseSQL(sql, false) == rewritten, "the text does not depend on doCreate");
  fuzz::Check(params.Count() == count, "a scan without doCreate adds nothing");

  for (int i = 0; i < params.Count(); ++i) {
    TParam* found = params.LookupParam(params[i]->Name);
    fuzz::Check(found != nullptr, "every parameter is found by its name", params[i]->Name);
    found->AssignString(sql.substr(0, 8));
    (void)found->AsString();
  }

  // Copies keep names and values.
  const std::string copyOwner = "Q_Copy";
  TParams copy(&copyOwner);
  copy.Assign(params);
  fuzz::Check(copy.Count() == params.Count(), "a copy has every parameter");
  copy.AssignValues(params);
  return 0;
}
