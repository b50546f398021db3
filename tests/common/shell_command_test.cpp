// Commands with placemarkers run by a real /bin/sh: whatever a printer or
// document is called, the command sees the name as text and nothing of the
// name runs.
#include "common/shell_command.h"

#include "platform/process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

using vltr::ShellContext;
using vltr::test::fileExists;
using vltr::test::readFile;
using vltr::test::TempDir;

TEST(ShellContext, FollowsQuotesSubstitutionsAndComments) {
  struct Case {
    std::string text;
    ShellContext want;
  } cases[] = {
      {"", ShellContext::Plain},
      {"echo ", ShellContext::Plain},
      {"echo '", ShellContext::SingleQuoted},
      {"echo 'a\" b", ShellContext::SingleQuoted},
      {"echo 'a' ", ShellContext::Plain},
      {"echo \"", ShellContext::DoubleQuoted},
      {"echo \"it's ", ShellContext::DoubleQuoted},
      {"echo \"a\\\" ", ShellContext::DoubleQuoted},
      {"echo \\' ", ShellContext::Plain},
      {"echo \"$(basename ", ShellContext::Plain},
      {"echo \"$(basename 'x' \"", ShellContext::DoubleQuoted},
      {"echo \"$(f (a) ) ", ShellContext::DoubleQuoted},
      {"echo \"`basename ", ShellContext::Plain},
      {"echo `a` \"", ShellContext::DoubleQuoted},
      {"echo # it's a comment ", ShellContext::Comment},
      {"echo # note\necho '", ShellContext::SingleQuoted},
      {"echo a#b '", ShellContext::SingleQuoted},
  };
  for (const Case &c : cases)
    EXPECT_EQ(vltr::ShellContextAfter(c.text), c.want) << c.text;
}

// Runs the expanded command the way a command response does and returns
// what it wrote to out.
std::string runExpanded(const TempDir &dir, const std::string &command,
                        const vltr::PlacemarkerValues &values) {
  vltr::ShellCommand shell = vltr::ExpandShellCommand(2, command, values, 1);
  vltr::process::Child child;
  EXPECT_EQ(vltr::process::Start("CMD /c \"" + shell.text + "\"", dir.path(), false, &child,
                                 shell.environment),
            0);
  int status = -1;
  EXPECT_EQ(child.wait(nullptr, 10'000, &status), vltr::process::Child::WaitResult::Ended);
  return readFile(dir.file("out"));
}

TEST(ShellCommand, HostileNamesStayTextWhereverThePlacemarkerStands) {
  const std::string hostile[] = {
      "plain",
      "two  words",
      "a'; touch PWNED; echo '",
      "a\"; touch PWNED; echo \"",
      "$(touch PWNED)",
      "`touch PWNED`",
      "a; touch PWNED",
      "x\ntouch PWNED",
      "\\\"'\\$HOME",
      "*",
      "",
  };
  // The placemarker bare, in double quotes, in single quotes, inside a
  // command substitution and back-ticks, and in a comment.
  struct Where {
    std::string command;
    std::string expect; // with V for the value
  } places[] = {
      {"printf '%s|' <$$PRINTER> > out", "V|"},
      {"printf '%s|' \"[<$$PRINTER>]\" > out", "[V]|"},
      {"printf '%s|' '[<$$PRINTER>]' > out", "[V]|"},
      {"printf '%s|' \"$(printf '%s' <$$PRINTER>)\" > out", "V|"},
      {"printf '%s|' \"`printf '%s' <$$PRINTER>`\" > out", "V|"},
      {"printf '%s|' <$$DOCUMENT> > out # <$$PRINTER>", "doc|"},
  };
  for (const std::string &name : hostile) {
    for (const Where &where : places) {
      TempDir dir;
      vltr::PlacemarkerValues values;
      values.info1 = name;
      values.info2 = "doc";
      std::string expect = where.expect;
      if (std::size_t at = expect.find('V'); at != std::string::npos)
        expect.replace(at, 1, name);
      EXPECT_EQ(runExpanded(dir, where.command, values), expect)
          << "name: " << name << "\ncommand: " << where.command;
      EXPECT_FALSE(fileExists(dir.file("PWNED")))
          << "name: " << name << "\ncommand: " << where.command;
    }
  }
}

TEST(ShellCommand, DisplayShowsTheValuesAndEachValueHasItsVariable) {
  vltr::PlacemarkerValues values;
  values.info1 = "LaserJet 4";
  values.info2 = "report.pdf";
  vltr::ShellCommand shell = vltr::ExpandShellCommand(
      2, "notify <$$PRINTER> '<$$DOCUMENT>' <$$PRINTER> <$$NOSUCH>", values, 1);
  EXPECT_EQ(shell.display, "notify LaserJet 4 'report.pdf' LaserJet 4 [not defined]");
  EXPECT_EQ(shell.text, "notify \"${VLTR_VALUE_1}\" ''\"${VLTR_VALUE_2}\"'' \"${VLTR_VALUE_3}\" "
                        "[not defined]");
  EXPECT_EQ(shell.environment,
            (std::vector<std::string>{"VLTR_VALUE_1=LaserJet 4", "VLTR_VALUE_2=report.pdf",
                                      "VLTR_VALUE_3=LaserJet 4"}));
}

} // namespace
