#include "tests/support/TinyProxy.h"

#include "runtime/Text.h"

namespace test {

namespace {

constexpr const char* kTinyProxyProgram = "/usr/bin/tinyproxy";

// Clients from the loopback only; no ConnectPort line, so a tunnel may go to any port; the log
// at Info names every request.
constexpr const char* kConfiguration = R"(Port @PORT@
Listen 127.0.0.1
Timeout 30
MaxClients 20
Allow 127.0.0.1
LogFile "@DIR@/tinyproxy.log"
LogLevel Info
PidFile "@DIR@/tinyproxy.pid"
)";

}  // namespace

TinyProxy::TinyProxy(std::string user, std::string password)
    : user_(std::move(user)), password_(std::move(password)) {}

std::string TinyProxy::Url(const std::string& credentials) const {
  return "http://" + (credentials.empty() ? "" : credentials + "@") +
         "127.0.0.1:" + std::to_string(server_.Port());
}

bool TinyProxy::Start() {
  return server_.Start(
      kTinyProxyProgram, "tinyproxy-bin",
      [&](int port) {
        std::string text = rt::ReplaceAll(kConfiguration, "@DIR@", dir_.Path());
        text = rt::ReplaceAll(text, "@PORT@", std::to_string(port));
        if (!user_.empty()) text += "BasicAuth " + user_ + " " + password_ + "\n";
        WriteFile(dir_.File("tinyproxy.conf"), text);
        // -d: in the foreground, so that the process started is the one stopped.
        return std::vector<std::string>{kTinyProxyProgram, "-d", "-c", dir_.File("tinyproxy.conf")};
      },
      [&] { return Log(); });
}

}  // namespace test
