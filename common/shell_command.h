// Commands that an administrator writes with placemarkers and the service
// runs through /bin/sh. A printer or document name is chosen by whoever
// prints, so no value may ever become shell code: each placemarker turns
// into a reference to an environment variable that holds its value, quoted
// to suit where it stands in the command. The shell expands a variable's
// value but never parses it, so quotes, ";", "$(...)" and back-ticks in a
// name stay text.
#pragma once

#include "common/placemarkers.h"

#include <string>
#include <string_view>
#include <vector>

namespace vltr {

// Where a position in a shell command stands, as /bin/sh reads it.
enum class ShellContext { Plain, SingleQuoted, DoubleQuoted, Comment };

// The context at the end of text.
ShellContext ShellContextAfter(std::string_view text);

struct ShellCommand {
  std::string text;                     // the command for /bin/sh
  std::vector<std::string> environment; // "NAME=value" for each placemarker
  std::string display;                  // the plain expansion, for people to read
};

// Expands text (string routine) for /bin/sh. The variables are named
// VLTR_VALUE_1, VLTR_VALUE_2, ... in the order the placemarkers appear.
ShellCommand ExpandShellCommand(int errorType, std::string_view text,
                                const PlacemarkerValues &values, int dateFormat);

} // namespace vltr
