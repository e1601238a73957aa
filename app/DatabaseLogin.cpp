#include "app/DatabaseLogin.h"

#include <sys/stat.h>

#include <cstdlib>

#include "app/U_Principal.h"
#include "runtime/Profile.h"
#include "runtime/Text.h"

namespace app {

namespace {

// The first of the environment variable `variable` and the settings file's `key` that has a
// value, else `stored`.
std::string Choose(const char* variable, const std::string& settingsPath, const char* key,
                   const std::string& stored) {
  if (const char* value = std::getenv(variable); value != nullptr && *value != '\0') return value;
  std::string value = rt::ReadProfileString(settingsPath, kSettingsSection, key);
  return value.empty() ? stored : value;
}

}  // namespace

DatabaseLogin ReadLogin(const std::string& settingsPath, const DatabaseLogin& stored) {
  return {Choose(kUserVariable, settingsPath, kUserKey, stored.User),
          Choose(kPasswordVariable, settingsPath, kPasswordKey, stored.Password)};
}

std::vector<std::string> LoginParams(const DatabaseLogin& login) {
  return {"user_name=" + login.User, "password=" + login.Password};
}

std::optional<std::string> ExposedPasswordWarning(const std::string& settingsPath) {
  struct stat info {};
  if (stat(settingsPath.c_str(), &info) != 0 || (info.st_mode & S_IROTH) == 0) return std::nullopt;
  if (rt::ReadProfileString(settingsPath, kSettingsSection, kPasswordKey).empty())
    return std::nullopt;
  // The file itself, not a link to it (the package's programs read /etc's through one).
  char* real = realpath(settingsPath.c_str(), nullptr);
  const std::string file = real != nullptr ? real : settingsPath;
  std::free(real);
  return rt::FillIn(kExposedPasswordWarning, {file, file, file});
}

}  // namespace app
