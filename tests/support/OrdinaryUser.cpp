#include "tests/support/OrdinaryUser.h"

#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

namespace test {

namespace {

// Run by root inside the new mount namespace; $1 uid, $2 gid, $3 home, then the command.
constexpr const char* kAsUserScript = R"(set -e
mount -t tmpfs -o mode=1777 lirenta-user-tmp /tmp
mkdir -m 0770 /tmp/firebird
uid=$1 gid=$2 home=$3
shift 3
exec env -u FIREBIRD_LOCK -u XDG_RUNTIME_DIR -u TMPDIR HOME="$home" \
  setpriv --reuid="$uid" --regid="$gid" --clear-groups -- "$@")";

}  // namespace

std::vector<std::string> AsUser(const OrdinaryUser& user, const std::vector<std::string>& args) {
  std::vector<std::string> line = {"/usr/bin/unshare",
                                   "--mount",
                                   "--propagation",
                                   "private",
                                   "/bin/sh",
                                   "-c",
                                   kAsUserScript,
                                   "as-user",
                                   std::to_string(user.uid),
                                   std::to_string(user.gid),
                                   user.home};
  line.insert(line.end(), args.begin(), args.end());
  return line;
}

void HandTo(const std::string& path, const OrdinaryUser& user, mode_t mode) {
  if (chown(path.c_str(), user.uid, user.gid) != 0 || chmod(path.c_str(), mode) != 0)
    throw std::runtime_error("cannot hand " + path + " to uid " + std::to_string(user.uid));
}

}  // namespace test
