// Fuzzes the simulated spooler's state file parser: any text is refused or
// accepted without reading past it, and what it accepts writes back to a
// text that parses to the same state.
#include "platform/spooler/sim_state.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  using namespace vltr::spooler::sim;
  std::string_view text(reinterpret_cast<const char *>(data), size);
  SimState state;
  std::string error;
  if (!parseState(text, &state, &error))
    return 0;
  std::string written = formatState(state);
  SimState again;
  if (!parseState(written, &again, &error) || formatState(again) != written)
    std::abort();
  std::uint32_t bits = 0;
  parseBits(text.substr(0, 24), &bits);
  std::string unescaped;
  if (!unescapeText(escapeText(text), &unescaped) || unescaped != text)
    std::abort();
  return 0;
}
