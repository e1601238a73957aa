#include "bench/support/Arguments.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>

namespace bench {

namespace {

long ParseCount(const std::string& name, const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || errno != 0 || *end != '\0' || value < 0)
    throw std::runtime_error("--" + name + " wants a whole number, not '" + text + "'");
  return value;
}

}  // namespace

Arguments::Arguments(int argc, char** argv, const std::vector<std::string>& flags) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--", 0) != 0) throw std::runtime_error("unexpected argument '" + arg + "'");
    const std::string name = arg.substr(2);
    if (std::find(flags.begin(), flags.end(), name) != flags.end()) {
      values_[name] = "";
    } else {
      if (i + 1 >= argc) throw std::runtime_error(arg + " needs a value");
      values_[name] = argv[++i];
    }
  }
}

std::string Arguments::Text(const std::string& name, const std::string& fallback) const {
  const auto found = values_.find(name);
  return found == values_.end() ? fallback : found->second;
}

long Arguments::Count(const std::string& name, long fallback) const {
  const auto found = values_.find(name);
  return found == values_.end() ? fallback : ParseCount(name, found->second);
}

std::vector<long> Arguments::Counts(const std::string& name,
                                    const std::vector<long>& fallback) const {
  const auto found = values_.find(name);
  if (found == values_.end()) return fallback;
  std::vector<long> counts;
  std::size_t start = 0;
  const std::string& text = found->second;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    counts.push_back(ParseCount(name, text.substr(start, comma - start)));
    start = comma + 1;
  }
  return counts;
}

int Main(int argc, char** argv, const char* program,
         const std::function<int(const Arguments&)>& run) {
  try {
    return run(Arguments(argc, argv));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", program, e.what());
    return 1;
  }
}

}  // namespace bench
