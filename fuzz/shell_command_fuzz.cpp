// Fuzzes the reading of administrators' command texts: the command line
// forms (CMD /c, CScript, plain) and the shell quoting tracker behind the
// placemarker encoding. Whatever the text, every value must come out as one
// variable reference and the quoting state must survive the insertion.
#include "common/shell_command.h"
#include "platform/process.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::size_t occurrences(const std::string &text, const std::string &needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++count;
  return count;
}

void require(bool condition, const char *what) {
  if (condition)
    return;
  std::fprintf(stderr, "shell_command_fuzz: %s\n", what);
  std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);

  // No script file is read for texts that do not name an existing file.
  vltr::process::LaunchPlan plan = vltr::process::PlanCommandLine(text);
  require(plan.error != 0 || !plan.argv.empty(), "a plan without error runs nothing");

  vltr::PlacemarkerValues values;
  values.info1 = "a'b\"c$(d)`e`\\f\ng";
  vltr::ShellCommand shell = vltr::ExpandShellCommand(2, text, values, 1);
  for (const std::string &entry : shell.environment)
    require(entry.rfind("VLTR_VALUE_", 0) == 0 && entry.find('=') != std::string::npos,
            "environment entry without a name");
  // The value itself never reaches the command handed to the shell.
  require(occurrences(shell.text, values.info1) <= occurrences(text, values.info1),
          "a value reached the shell text");
  (void)vltr::ShellContextAfter(shell.text);
  return 0;
}
