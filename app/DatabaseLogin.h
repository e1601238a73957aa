// Who logs in to the database: the user name and the password that go into the attachment's
// parameters, and the warning for a settings file that shows its password to every user.
//
// Each of the two values is looked for on its own, in this order: the environment (ISC_USER,
// ISC_PASSWORD: the Firebird client's own names, which isql-fb and gbak read too); the [BANCO]
// section of the settings file (USUARIO, SENHA); the window's stored value. An empty value
// counts as none. The password is never written anywhere by this unit: the warning names the
// file, not what it holds.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace app {

inline constexpr const char* kUserVariable = "ISC_USER";
inline constexpr const char* kPasswordVariable = "ISC_PASSWORD";
inline constexpr const char* kUserKey = "USUARIO";
inline constexpr const char* kPasswordKey = "SENHA";
// A settings file holding a password that any user may read: the file, then the file for each
// of the two mends.
inline constexpr const char* kExposedPasswordWarning =
    "Aviso: qualquer usu\xE1rio pode ler %s, que guarda a senha do banco (SENHA). Corrija com "
    "chmod 600 %s (s\xF3 o dono l\xEA) ou chmod 640 %s (o dono e o grupo do arquivo).";

struct DatabaseLogin {
  std::string User;
  std::string Password;
};

// The login for the settings file at `settingsPath` (read as the profile reader reads it; a
// missing file gives nothing), over `stored`.
DatabaseLogin ReadLogin(const std::string& settingsPath, const DatabaseLogin& stored);

// The attachment's parameter lines of `login`: "user_name=..." and "password=...".
std::vector<std::string> LoginParams(const DatabaseLogin& login);

// The warning for the settings file at `settingsPath` when it holds a password and any user may
// read it; nothing otherwise.
std::optional<std::string> ExposedPasswordWarning(const std::string& settingsPath);

}  // namespace app
