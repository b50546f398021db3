// Starting the commands and scripts of automatic responses. A command line
// is read the way the Windows command interpreters read it:
//
//   CMD /c TEXT                 /bin/sh -c TEXT, one pair of enclosing quotes
//                               removed as the interpreter does
//   CScript [/nologo] FILE ...  FILE run by the interpreter on its "#!" line,
//                               or by /bin/sh without one
//   anything else               the first word run from PATH with the rest
//                               as its arguments
//
// The child gets no descriptor but its standard ones, its own process group
// (so a Ctrl-C meant for the service does not end a command that is to be
// left running) and an unblocked signal mask.
#pragma once

#include "platform/event.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vltr::process {

// How a command line is to be run: the program and its arguments (argv[0]
// included). Empty when the line names nothing to run.
struct LaunchPlan {
  std::vector<std::string> argv;
  int error = 0; // errno when the plan cannot be made (a script that cannot be read)
};

LaunchPlan PlanCommandLine(const std::string &commandLine);

// The text "CMD /c" hands the shell: surrounding blanks dropped, and when it
// begins with a quote, that quote and the last quote of the text removed.
std::string StripEnclosingQuotes(const std::string &text);

class Child {
public:
  Child() = default;
  Child(const Child &) = delete;
  Child &operator=(const Child &) = delete;
  Child(Child &&other) noexcept;
  Child &operator=(Child &&other) noexcept;
  // A child still running is left running; it is reaped in the background
  // when it ends, so it never lingers as a zombie.
  ~Child();

  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0; }

  enum class WaitResult { Ended, Stopped, TimedOut };
  // Waits for the child's end, the stop event or the time-out, whichever
  // comes first. exitStatus receives the wait status when it ended.
  WaitResult wait(const Event *stop, std::int64_t timeoutMs, int *exitStatus = nullptr);

private:
  friend int StartProgram(std::vector<std::string>, const std::string &, bool, Child *,
                          const std::vector<std::string> &);
  void release();
  pid_t pid_ = -1;
  int pidfd_ = -1;
};

// Starts the command line. workingDirectory may be empty (the service's
// own). showOutput keeps the child's standard output and error on ours (trace
// mode); otherwise they go to /dev/null. extraEnvironment ("NAME=value")
// is added to the service's own. Returns 0, or the errno that kept it from
// starting.
int Start(const std::string &commandLine, const std::string &workingDirectory, bool showOutput,
          Child *child, const std::vector<std::string> &extraEnvironment = {});

// Starts a program with the given arguments (argv[0] included, looked up in
// PATH), with the same child set-up as Start.
int StartProgram(std::vector<std::string> argv, const std::string &workingDirectory,
                 bool showOutput, Child *child,
                 const std::vector<std::string> &extraEnvironment = {});

} // namespace vltr::process
