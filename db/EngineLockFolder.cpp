#include "db/EngineLockFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace db {

namespace {

// Only the owner may enter the folder: its lock files say which databases the user has open.
constexpr mode_t kPrivateMode = 0700;

std::string Refused(const std::string& path, const std::string& why) {
  return "Cannot use the lock folder " + path + ": " + why + ".";
}

bool IsUsersWritableFolder(const char* path) {
  struct stat info {};
  return path != nullptr && path[0] == '/' && stat(path, &info) == 0 && S_ISDIR(info.st_mode) &&
         info.st_uid == geteuid() && faccessat(AT_FDCWD, path, W_OK | X_OK, AT_EACCESS) == 0;
}

}  // namespace

std::string PrivateLockFolderPath() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); IsUsersWritableFolder(runtime))
    return std::string(runtime) + "/lirenta";
  const char* tmp = std::getenv("TMPDIR");
  const std::string parent = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
  return parent + "/lirenta-" + std::to_string(geteuid());
}

std::optional<std::string> MakePrivateFolder(const std::string& path) {
  if (mkdir(path.c_str(), kPrivateMode) != 0 && errno != EEXIST)
    return Refused(path, std::strerror(errno));
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return Refused(path, std::strerror(errno));
  if (S_ISLNK(info.st_mode)) return Refused(path, "it is a symbolic link");
  if (!S_ISDIR(info.st_mode)) return Refused(path, "it is not a folder");
  if (info.st_uid != geteuid())
    return Refused(path, "it belongs to another user (uid " + std::to_string(info.st_uid) + ")");
  if ((info.st_mode & 07777) == kPrivateMode) return std::nullopt;
  // Narrowed through a descriptor of the folder just checked, never through a name that could
  // have been replaced by a link in the meantime.
  const int folder = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) return Refused(path, std::strerror(errno));
  struct stat opened {};
  std::optional<std::string> refusal;
  if (fstat(folder, &opened) != 0 || opened.st_ino != info.st_ino || opened.st_uid != geteuid())
    refusal = Refused(path, "it changed while it was checked");
  else if (fchmod(folder, kPrivateMode) != 0)
    refusal = Refused(path, std::strerror(errno));
  close(folder);
  return refusal;
}

std::optional<std::string> UsePrivateLockFolder() {
  if (std::getenv(kLockFolderVariable) != nullptr) return std::nullopt;
  const std::string path = PrivateLockFolderPath();
  if (auto refusal = MakePrivateFolder(path)) return refusal;
  setenv(kLockFolderVariable, path.c_str(), 1);
  return std::nullopt;
}

}  // namespace db
