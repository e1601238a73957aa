// lirenta-fixture-site: serves the pages of a folder over HTTP/1.1 on 127.0.0.1 for the demo,
// the end-to-end tests and the benchmarks. The first line it prints is the port it listens on.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/FixtureSite.h"

namespace {

constexpr const char* kUsage =
    "usage: lirenta-fixture-site --root DIR [--port N] [--idle-seconds S] [--chunked]\n"
    "           [--chunked-every N] [--chunk-size N] [--close] [--header 'Name: value']...\n"
    "           [--log FILE] [--cert FILE --key FILE] [--delay-ms MS]\n"
    "           [--throttle FROM:COUNT[:SECONDS]]... [--outage AFTER:MS]...\n"
    "           [--trickle FROM:COUNT:MS]...\n"
    "Serves the files below DIR on 127.0.0.1 and prints the port on its first line.\n"
    "  --port N           port to listen on; 0 (the default) takes any free port\n"
    "  --idle-seconds S   end after S seconds without a connection or a byte (default 300)\n"
    "  --chunked          send every answer chunked\n"
    "  --chunked-every N  send every N-th answer chunked\n"
    "  --chunk-size N     body bytes per chunk (default 1024)\n"
    "  --close            close the connection after every answer\n"
    "  --header LINE      add LINE to every answer (a Content-Type replaces the default)\n"
    "  --log FILE         append every request head to FILE\n"
    "  --cert FILE        speak TLS with this certificate (PEM, the chain after it)\n"
    "  --key FILE         the certificate's private key (PEM)\n"
    "  --delay-ms MS      send every answer MS milliseconds after its request arrived; the\n"
    "                     other connections are served meanwhile\n"
    "  --throttle FROM:COUNT[:SECONDS]\n"
    "                     answer COUNT requests from request number FROM on with '429 Too\n"
    "                     Many Requests' (and 'Retry-After: SECONDS' when given), keeping\n"
    "                     the connection\n"
    "  --trickle FROM:COUNT:MS\n"
    "                     send the answers to COUNT requests from request number FROM on one\n"
    "                     byte every MS milliseconds; the connection's later answers wait\n"
    "  --outage AFTER:MS  once AFTER answers went out whole (0: at the start), close the\n"
    "                     listening socket and every connection, dropping the requests not\n"
    "                     answered yet; new connections are refused; MS milliseconds later\n"
    "                     listen again on the same port\n"
    "Requests are numbered from 1 in the order they arrive and answers counted as they go\n"
    "out, over the site's life, every answer (404s and 429s too) included. --throttle,\n"
    "--trickle and --outage may be given more than once; outages come in the order of AFTER.\n"
    "A file NAME.headers next to a page NAME shapes its answer: 'Status: CODE REASON',\n"
    "'Framing: length|chunked|close', and other header lines sent as they are.\n"
    "Ends on SIGTERM or SIGINT.\n";

// Exit status for a command line that cannot be used.
constexpr int kUsageStatus = 2;

// Longest outage and delay taken, an hour: longer is a mistake in a command line.
constexpr long long kLongestMs = 3600 * 1000;
// Largest request number or count taken.
constexpr long long kMostRequests = 1000000000;
// Longest Retry-After taken, a day.
constexpr long long kLongestRetryAfter = 86400;

bool ReadCount(const char* text, long long low, long long high, long long& value) {
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
  value = v;
  return true;
}

// Whole numbers separated by ':', each within its bounds; `optional` of them may be left out
// at the end.
bool ReadFields(const char* text, const std::vector<std::pair<long long, long long>>& bounds,
                std::size_t optional, std::vector<long long>& values) {
  values.clear();
  std::string rest = text;
  while (values.size() < bounds.size()) {
    const std::size_t colon = rest.find(':');
    const std::string field = rest.substr(0, colon);
    long long v;
    if (field.empty() || field.find_first_not_of("0123456789") != std::string::npos ||
        !ReadCount(field.c_str(), bounds[values.size()].first, bounds[values.size()].second, v))
      return false;
    values.push_back(v);
    if (colon == std::string::npos) break;
    rest.erase(0, colon + 1);
    if (values.size() == bounds.size()) return false;  // a field too many
  }
  return values.size() + optional >= bounds.size();
}

}  // namespace

int main(int argc, char** argv) {
  fixture::SiteOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto next = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "lirenta-fixture-site: %s needs a value\n%s", argv[i], kUsage);
        std::exit(kUsageStatus);
      }
      return argv[++i];
    };
    auto count = [&](long long low, long long high) {
      const char* name = argv[i];
      const char* text = next();
      long long v;
      if (!ReadCount(text, low, high, v)) {
        std::fprintf(stderr, "lirenta-fixture-site: bad value for %s: %s\n", name, text);
        std::exit(kUsageStatus);
      }
      return v;
    };
    if (arg == "--root")
      options.root = next();
    else if (arg == "--port")
      options.port = uint16_t(count(0, 65535));
    else if (arg == "--idle-seconds")
      options.idleSeconds = int(count(1, 86400));
    else if (arg == "--chunked")
      options.chunked = true;
    else if (arg == "--chunked-every")
      options.chunkedEvery = int(count(1, 1000000));
    else if (arg == "--chunk-size")
      options.chunkSize = std::size_t(count(1, 1 << 24));
    else if (arg == "--close")
      options.closeEach = true;
    else if (arg == "--header")
      options.extraHeaders.emplace_back(next());
    else if (arg == "--log")
      options.logPath = next();
    else if (arg == "--cert")
      options.certFile = next();
    else if (arg == "--key")
      options.keyFile = next();
    else if (arg == "--delay-ms")
      options.delayMs = int(count(0, kLongestMs));
    else if (arg == "--trickle") {
      const char* text = next();
      std::vector<long long> v;
      if (!ReadFields(text, {{1, kMostRequests}, {1, kMostRequests}, {1, kLongestMs}}, 0, v)) {
        std::fprintf(stderr, "lirenta-fixture-site: bad value for --trickle: %s\n", text);
        return kUsageStatus;
      }
      options.trickles.push_back({uint64_t(v[0]), uint64_t(v[1]), int(v[2])});
    } else if (arg == "--throttle" || arg == "--outage") {
      const char* name = argv[i];
      const char* text = next();
      std::vector<long long> v;
      const bool throttle = arg == "--throttle";
      const bool read =
          throttle
              ? ReadFields(text, {{1, kMostRequests}, {1, kMostRequests}, {0, kLongestRetryAfter}},
                           1, v)
              : ReadFields(text, {{0, kMostRequests}, {1, kLongestMs}}, 0, v);
      if (!read) {
        std::fprintf(stderr, "lirenta-fixture-site: bad value for %s: %s\n", name, text);
        return kUsageStatus;
      }
      if (throttle)
        options.throttles.push_back({uint64_t(v[0]), uint64_t(v[1]),
                                     v.size() > 2 ? std::optional<int>(int(v[2])) : std::nullopt});
      else
        options.outages.push_back({uint64_t(v[0]), int(v[1])});
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      std::fprintf(stderr, "lirenta-fixture-site: unknown option %s\n%s", argv[i], kUsage);
      return kUsageStatus;
    }
  }
  if (options.certFile.empty() != options.keyFile.empty()) {
    std::fprintf(stderr, "lirenta-fixture-site: --cert and --key go together\n%s", kUsage);
    return kUsageStatus;
  }
  if (options.root.empty()) {
    std::fprintf(stderr, "lirenta-fixture-site: --root is required\n%s", kUsage);
    return kUsageStatus;
  }
  try {
    fixture::FixtureSite site(options);
    std::printf("%u\n", unsigned(site.Port()));
    std::fflush(stdout);
    return site.Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lirenta-fixture-site: %s\n", e.what());
    return 1;
  }
}
