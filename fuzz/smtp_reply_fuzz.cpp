// Fuzzes what the SMTP path reads from outside: server replies checked
// against the expected codes, and recipient lists (from the registry) cut
// into items. The first byte picks the expected code's length.
#include "alerting/contacts.h"
#include "netclients/smtp_client.h"
#include "outside/vlTRLog.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void require(bool condition, const char *what) {
  if (condition)
    return;
  std::fprintf(stderr, "smtp_reply_fuzz: %s\n", what);
  std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static bool quiet = [] {
    vlLog_SetLogLevel(0);
    return true;
  }();
  (void)quiet;
  if (size == 0)
    return 0;
  std::size_t codeLength = data[0] % 8;
  std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
  std::string code = rest.substr(0, codeLength);
  std::string reply = rest.substr(std::min(codeLength, rest.size()));

  int matched = CheckSMTPResponse(reply, code);
  bool prefix = reply.size() >= code.size();
  for (std::size_t i = 0; prefix && i < code.size(); ++i)
    prefix = std::tolower(static_cast<unsigned char>(reply[i])) ==
             std::tolower(static_cast<unsigned char>(code[i]));
  require(matched == (prefix ? 1 : 0), "reply check disagrees with a plain prefix comparison");

  // Items of at most 999 bytes; the walk always moves forward and ends.
  std::size_t position = 0;
  std::size_t steps = 0;
  for (;;) {
    std::string item;
    std::size_t next = NextListItem(rest, position, &item, 1000);
    require(item.size() < 1000, "item longer than its buffer");
    require(item.find(',') == std::string::npos && item.find('\r') == std::string::npos,
            "separator inside an item");
    require(next <= rest.size(), "position beyond the list");
    if (item.empty())
      break;
    require(next > position, "no progress");
    position = next;
    require(++steps <= rest.size(), "more items than bytes");
  }
  return 0;
}
