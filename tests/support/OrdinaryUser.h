// Programs run the way the people who use Lirenta run them: as an ordinary user, not root.
//
// Such a run goes through a mount namespace of its own whose /tmp is a fresh tmpfs, so the
// machine's /tmp, and the engine's /tmp/firebird in it, is never touched. Inside, root first
// makes /tmp/firebird with mode 0770, as root's own use of the engine leaves it; then the
// program runs through setpriv with the user's uid and gid and no supplementary groups, HOME
// set to the user's, and none of FIREBIRD_LOCK, XDG_RUNTIME_DIR and TMPDIR in its environment.
// An X display stays reachable: Xvfb also listens on an abstract socket, which no mount hides.
//
// Whatever such a run needs lies outside /tmp (ProgramFolder puts a user's program folder in
// /var/tmp).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace test {

struct OrdinaryUser {
  uid_t uid;
  gid_t gid;
  std::string home;
};

// The account every Debian has, with no writable home and in no group of the engine's.
inline const OrdinaryUser kNobody{65534, 65534, "/nonexistent"};
// A second user, without an account: the engine asks nothing of the user database.
inline const OrdinaryUser kSecondUser{65533, 65533, "/nonexistent"};

// The command line that runs `args` as `user`, as described above.
std::vector<std::string> AsUser(const OrdinaryUser& user, const std::vector<std::string>& args);

// Makes `path` belong to `user`, with `mode`.
void HandTo(const std::string& path, const OrdinaryUser& user, mode_t mode);

}  // namespace test
