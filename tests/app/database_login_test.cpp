// Who logs in: each of the two values from the environment, else the settings file, else the
// stored one; and the warning for a settings file whose password every user may read.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "app/DatabaseLogin.h"
#include "tests/support/Process.h"

namespace {

const app::DatabaseLogin kStored{"SYSDBA", "guardada"};

void SetOrUnset(const char* name, const char* value) {
  if (value != nullptr)
    setenv(name, value, 1);
  else
    unsetenv(name);
}

TEST(DatabaseLogin, EachValueComesFromTheEnvironmentElseTheFileElseTheStoredOne) {
  struct Case {
    const char* user;      // ISC_USER; nullptr: not set
    const char* password;  // ISC_PASSWORD
    std::string file;      // BaseKavro.ini
    app::DatabaseLogin expected;
  };
  const std::string both = "[BANCO]\nCAMINHO=h:/b.fdb\nUSUARIO=ana\nSENHA=\"s=1 ;x\"\n";
  const std::vector<Case> cases = {
      {nullptr, nullptr, "[BANCO]\nCAMINHO=h:/b.fdb\n", kStored},
      {nullptr, nullptr, both, {"ana", "s=1 ;x"}},
      {"bia", "env", both, {"bia", "env"}},
      {nullptr, "env", both, {"ana", "env"}},
      {"bia", nullptr, "[BANCO]\nSENHA=f\n", {"bia", "f"}},
      // An empty value is none; keys of another section are not the program's.
      {"", "", "[banco]\nusuario=\nsenha=f\n[OUTRO]\nUSUARIO=x\n", {"SYSDBA", "f"}},
      {nullptr, nullptr, "[OUTRO]\nUSUARIO=x\nSENHA=y\n", kStored},
  };
  test::TempDir dir;
  const std::string path = dir.File("BaseKavro.ini");
  for (const Case& c : cases) {
    test::WriteFile(path, c.file);
    SetOrUnset("ISC_USER", c.user);
    SetOrUnset("ISC_PASSWORD", c.password);
    const app::DatabaseLogin login = app::ReadLogin(path, kStored);
    EXPECT_EQ(login.User, c.expected.User) << c.file;
    EXPECT_EQ(login.Password, c.expected.Password) << c.file;
  }
  unsetenv("ISC_USER");
  unsetenv("ISC_PASSWORD");
  EXPECT_EQ(app::LoginParams({"ana", "a=b"}),
            (std::vector<std::string>{"user_name=ana", "password=a=b"}));
}

TEST(DatabaseLogin, WarnsOfAPasswordAnyUserMayReadNamingTheFileAndTheMends) {
  test::TempDir dir;
  const std::string path = dir.File("BaseKavro.ini");
  const std::string link = dir.File("link.ini");
  ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
  struct Case {
    std::string file;
    mode_t mode;
    bool warns;
  };
  const std::vector<Case> cases = {
      {"[BANCO]\nSENHA=s\n", 0600, false}, {"[BANCO]\nSENHA=s\n", 0640, false},
      {"[BANCO]\nSENHA=s\n", 0644, true},  {"[BANCO]\nSENHA=s\n", 0604, true},
      {"[BANCO]\nSENHA=\n", 0644, false},  {"[BANCO]\nUSUARIO=ana\n", 0666, false},
  };
  for (const Case& c : cases) {
    test::WriteFile(path, c.file);
    chmod(path.c_str(), c.mode);
    const auto warning = app::ExposedPasswordWarning(link);
    ASSERT_EQ(warning.has_value(), c.warns) << c.file << " " << c.mode;
    if (!warning) continue;
    // The file itself is named, not the link the program was given.
    EXPECT_EQ(*warning, "Aviso: qualquer usu\xE1rio pode ler " + path +
                            ", que guarda a senha do banco (SENHA). Corrija com chmod 600 " + path +
                            " (s\xF3 o dono l\xEA) ou chmod 640 " + path +
                            " (o dono e o grupo do arquivo).");
  }
  EXPECT_FALSE(app::ExposedPasswordWarning(dir.File("absent.ini")));
}

}  // namespace
