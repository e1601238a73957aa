// The embedded engine's lock folder, private to the user who runs the program.
//
// The embedded engine keeps its lock files in the folder that FIREBIRD_LOCK names, /tmp/firebird
// by default. Whoever uses the engine first makes that folder with mode 0770, so once root or
// the server's own account has used it, every other user is refused at the attachment. The
// programs therefore give the engine a folder of the user's own before the client library is
// loaded, unless FIREBIRD_LOCK already names one.
//
// A folder per user does not let two processes share a database behind each other's backs: the
// engine also holds an operating-system lock on the database file itself, so a second process
// that opens an open database is refused whatever its lock folder ("Database already opened
// with engine instance, incompatible with current").
//
// The folder may lie in a shared /tmp, so it is trusted only when it is a real folder (not a
// symbolic link) that belongs to the user; it is made, or kept, with mode 0700.
#pragma once

#include <optional>
#include <string>

namespace db {

// The environment variable through which the engine finds its lock folder.
inline constexpr const char* kLockFolderVariable = "FIREBIRD_LOCK";

// Where the user's private lock folder goes: "$XDG_RUNTIME_DIR/lirenta" when XDG_RUNTIME_DIR
// names a folder of the user's that the user may write; otherwise "lirenta-<uid>" in TMPDIR
// (when that is an absolute path) or in /tmp.
std::string PrivateLockFolderPath();

// Makes `path` a folder of the user's own with mode 0700: creates it, or takes an existing
// folder of the user's and narrows its mode. Returns why it cannot be used, naming it: a
// symbolic link, not a folder, another user's, or the system's reason it could not be made.
std::optional<std::string> MakePrivateFolder(const std::string& path);

// When FIREBIRD_LOCK is not set: makes the private lock folder and sets FIREBIRD_LOCK to it.
// Returns why the folder cannot be used, in which case FIREBIRD_LOCK stays unset and the engine
// keeps its own default. A FIREBIRD_LOCK that is set already is left alone. Call before
// anything loads the client library.
std::optional<std::string> UsePrivateLockFolder();

}  // namespace db
