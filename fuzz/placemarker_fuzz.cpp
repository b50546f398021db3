// Fuzzes placemarker expansion of user-editable templates: both routines on
// any text, with values that may look like placemarkers themselves.
#include "common/placemarkers.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void require(bool condition, const char *what) {
  if (condition)
    return;
  std::fprintf(stderr, "placemarker_fuzz: %s\n", what);
  std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0)
    return 0;
  std::uint8_t control = data[0];
  std::string text(reinterpret_cast<const char *>(data + 1), size - 1);

  vltr::PlacemarkerValues values;
  values.message = text.substr(0, text.size() / 2);
  values.title = "<$$TITLE>";
  values.loggedTime = text.substr(text.size() / 2, 19);
  values.timeNow = "01/02/2026 03:04:05";
  values.info1 = "<$$";
  values.info2 = ">";
  values.info3 = "";
  values.source = "src";
  values.osName = "os";
  values.servicePack = "sp";
  values.serverName = "host";
  values.level = control % 21;
  int errorType = (control & 0x20) ? 2 : 15;
  int dateFormat = (control & 0x40) ? 2 : 1;

  for (auto routine : {vltr::PlacemarkerRoutine::String, vltr::PlacemarkerRoutine::File}) {
    std::string out = vltr::ExpandPlacemarkers(routine, errorType, text, values, dateFormat);
    // Without "<" nothing can be a placemarker.
    if (text.find('<') == std::string::npos)
      require(out == text, "text without placemarkers changed");
  }
  for (std::size_t at = 0; at < text.size(); ++at) {
    std::size_t length = PlacemarkerLength(text, at);
    require(length == 0 || (at + length <= text.size() && text[at + length - 1] == '>'),
            "token length past the text or not ending in >");
  }
  std::string exchanged = vltr::ExchangeDateOrder(values.loggedTime);
  require(exchanged.size() == values.loggedTime.size(), "date exchange changed the length");
  require(vltr::ExchangeDateOrder(exchanged) == values.loggedTime,
          "date exchange is not its own inverse");
  return 0;
}
