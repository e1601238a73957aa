#include "runtime/ExePath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace rt {

std::string ExecutablePath() {
  std::vector<char> buf(4096);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (std::size_t(n) < buf.size()) return std::string(buf.data(), std::size_t(n));
    buf.resize(buf.size() * 2);
  }
}

std::string ExecutableDirectory() {
  std::string path = ExecutablePath();
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace rt
