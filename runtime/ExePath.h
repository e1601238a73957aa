// Where the running program lives.
#pragma once

#include <string>

namespace rt {

// Full path of the running executable (from /proc/self/exe); empty when it cannot be read.
std::string ExecutablePath();
// The executable's directory, up to and including its last "/".
std::string ExecutableDirectory();
// True when `path` names an existing regular file (a directory does not count).
bool FileExists(const std::string& path);

}  // namespace rt
