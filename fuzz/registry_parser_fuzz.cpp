// Fuzzes the .reg parser: any bytes are parsed without reading past them, and
// whatever parses is written back, parses again to the same tree, and writes
// the same text a second time.
#include "outside/registry_file.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  vltr::reg::ParseResult parsed = vltr::reg::parseRegText(text);
  if (!parsed.ok) {
    if (parsed.errorLine == 0 || parsed.error.empty())
      std::abort(); // a refusal always names its line and reason
    return 0;
  }
  vltr::reg::Key tree;
  vltr::reg::applySections(tree, parsed.sections);
  std::string written = vltr::reg::writeRegText(tree);

  vltr::reg::ParseResult again = vltr::reg::parseRegText(written);
  if (!again.ok)
    std::abort();
  vltr::reg::Key reread;
  vltr::reg::applySections(reread, again.sections);
  if (!(reread == tree) || vltr::reg::writeRegText(reread) != written)
    std::abort();
  return 0;
}
