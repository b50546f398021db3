#include "platform/reboot.h"

#include "platform/process.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace vltr {
namespace {

int runToEnd(std::vector<std::string> argv) {
  process::Child child;
  if (int error = process::StartProgram(std::move(argv), "", true, &child); error != 0)
    return error;
  int status = 0;
  // Generous: systemctl may wait for the manager to accept the job.
  if (child.wait(nullptr, 120'000, &status) != process::Child::WaitResult::Ended)
    return ETIMEDOUT;
  if (WIFEXITED(status))
    return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : EIO;
}

} // namespace

int RequestSystemRestart() {
  const char *command = std::getenv("VLTR_REBOOT_COMMAND");
  if (command != nullptr && *command != '\0')
    return runToEnd({"/bin/sh", "-c", command});
  if (runToEnd({"systemctl", "reboot"}) == 0)
    return 0;
  return runToEnd({"/sbin/shutdown", "-r", "now"});
}

} // namespace vltr
