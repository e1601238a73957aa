// The parameter blocks of the client API, built from the name=value lines of a component's
// Params: the database parameter block (DPB) that isc_attach_database takes and the transaction
// parameter block (TPB) that isc_start_multiple takes.
//
// A name is looked up lower-cased, with or without its isc_dpb_ / isc_tpb_ prefix, among the
// names of the client API's constants; the code written is that constant.
#pragma once

#include <string>
#include <vector>

namespace db {

// A Params line split at its first "=".
struct ParameterLine {
  // The text before the "="; empty for a line without one.
  std::string Name;
  // The text after the "=", untrimmed.
  std::string Value;
  bool HasValue = false;
};
ParameterLine SplitParameterLine(const std::string& line);

// Builds the database parameter block from name=value lines (raises client errors 11 and 114,
// and the runtime's conversion error for a bad number). The length is the string's size.
std::string BuildDPB(const std::vector<std::string>& params);
// Builds the transaction parameter block (raises client errors 13 and 115); empty for no lines.
std::string BuildTPB(const std::vector<std::string>& params);

}  // namespace db
