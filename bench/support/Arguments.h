// The command line of a benchmark program: "--name value" pairs and "--flag" switches.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace bench {

class Arguments {
 public:
  // `flags` are the names that take no value. Raises std::runtime_error on anything else that
  // does not start with "--" or lacks its value.
  Arguments(int argc, char** argv, const std::vector<std::string>& flags = {});

  bool Flag(const std::string& name) const { return values_.count(name) != 0; }
  std::string Text(const std::string& name, const std::string& fallback) const;
  // A whole number >= 0; raises std::runtime_error when the value is not one.
  long Count(const std::string& name, long fallback) const;
  // A comma-separated list of counts ("1000,10000").
  std::vector<long> Counts(const std::string& name, const std::vector<long>& fallback) const;

 private:
  std::map<std::string, std::string> values_;
};

// The body of a benchmark's main: reads the command line and calls `run`; a failure of either is
// printed as "`program`: message" on standard error and ends with status 1.
int Main(int argc, char** argv, const char* program,
         const std::function<int(const Arguments&)>& run);

}  // namespace bench
