// Fuzzes the console protocol's inbound side: the frame check, the field
// reader and the request handling, with any bytes as a request. Checks
// that fields stay within their limits, that the reader always advances,
// that every prepared reply frames into a complete message, and that a
// file reply never leaves the home directory. Registered consoles are
// cleared after each input; nothing is sent (the monitor is not started).
#include "console/console_state.h"
#include "console/frame.h"
#include "console/requests.h"
#include "outside/vlTRLog.h"
#include "service/host/service_host.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

void require(bool condition, const char *what) {
  if (condition)
    return;
  std::fprintf(stderr, "console_request_fuzz: %s\n", what);
  std::abort();
}

const std::string &home() {
  static const std::string directory = [] {
    char pattern[] = "/tmp/vltr-console-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
      std::abort();
    std::string path = pattern;
    setenv("VLTR_REGISTRY", (path + "/registry.reg").c_str(), 1);
    vlLog_SetLogFile((path + "/fuzz.log").c_str());
    vlLog_SetLogLevel(0);
    std::FILE *file = std::fopen((path + "/PRQ-Console.dat").c_str(), "w");
    if (file != nullptr)
      std::fclose(file);
    auto &host = vltr::service::host();
    host.settings.home = path;
    host.settings.dataDirectory = path;
    host.settings.enableConsoleSupport = true;
    host.computerName = "FUZZHOST";
    return path;
  }();
  return directory;
}

void checkFields(std::string_view text, std::size_t limit) {
  std::size_t position = 0;
  std::string field;
  std::size_t rounds = 0;
  while (GetNextConsoleField(text, &position, "##", &field, limit)) {
    require(limit == 0 ? field.empty() : field.size() < limit, "field longer than its limit");
    require(position == std::string_view::npos || position <= text.size(),
            "position past the text");
    require(++rounds <= text.size() + 1, "field reader does not advance");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string &homeDirectory = home();
  std::string request(reinterpret_cast<const char *>(data), size);

  CheckCompleteConsoleMessage(request);
  checkFields(request, size > 0 ? data[0] % 64 : 50);

  vltr::console::ConsoleReply reply;
  if (ProcessConsoleMessage(request, "10.0.0.1", &reply)) {
    std::string framed = GenerateOutboundConsoleMessage(reply.type, reply.text);
    require(CheckCompleteConsoleMessage(framed) == 1, "reply does not frame completely");
    if (reply.type == 18) {
      std::filesystem::path file = std::filesystem::weakly_canonical(reply.file);
      std::filesystem::path base = std::filesystem::weakly_canonical(homeDirectory);
      require(file.string().rfind(base.string() + "/", 0) == 0, "file reply outside home");
    }
  }

  std::lock_guard lock(vltr::service::host().locks.console);
  vltr::console::ConsoleState &state = vltr::console::consoleState();
  state.consoles.clear();
  state.activityClients = 0;
  vltr::console::RefreshActivityGate(state);
  return 0;
}
