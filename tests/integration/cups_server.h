// A private CUPS scheduler for tests: cupsd with its own configuration,
// spool and state below a temporary directory, listening only on a unix
// socket there, with a test backend (tests/fixtures/cups_test_backend) that
// plays a printer whose faults the test chooses. Needs root, as cupsd does.
#pragma once

#include "tests/support/test_support.h"

#include <memory>
#include <string>
#include <vector>

namespace vltr::test {

class CupsServer {
public:
  // False when cupsd is not installed: the only reason to skip CUPS tests.
  static bool installed();

  // Starts cupsd; extraConfig lines are appended to cupsd.conf. Check
  // started() (and error()) before use.
  explicit CupsServer(const std::string &extraConfig = "");
  ~CupsServer();
  CupsServer(const CupsServer &) = delete;
  CupsServer &operator=(const CupsServer &) = delete;

  bool started() const { return started_; }
  const std::string &error() const { return error_; }
  const std::string &socketPath() const { return socket_; }
  // The PrintSpooler value for this server.
  std::string spoolerSetting() const { return "cups:" + socket_; }
  // CUPS_SERVER for client programs.
  EnvAdditions env() const { return {{"CUPS_SERVER", socket_}}; }

  // Runs a CUPS client program (lpadmin, lp, lpstat ...) against this server.
  ProcessResult client(const std::vector<std::string> &argv) const;
  // lpstat's output for the arguments.
  std::string lpstat(const std::vector<std::string> &args) const;

  // A raw queue printing to uri (default: discard everything), enabled and
  // accepting. False (with error()) when lpadmin refuses.
  bool addQueue(const std::string &name, const std::string &uri = "file:///dev/null");
  // A queue on the test backend; its faults are chosen with setReason.
  bool addBackendQueue(const std::string &name);
  // The state reason the backend reports while printing on that queue.
  void setReason(const std::string &queue, const std::string &reason);
  // Lets the backend finish the job it prints on that queue.
  void release(const std::string &queue);
  // Makes the backend keep its next jobs printing again.
  void hold(const std::string &queue);
  // How many times the backend started printing on that queue.
  int backendRuns(const std::string &queue) const;

  // Submits a file of `bytes` bytes with lp; returns the job id, 0 on failure.
  // held: -o job-hold-until=indefinite.
  int submit(const std::string &queue, const std::string &title, const std::string &user,
             std::size_t bytes, bool held, const std::vector<std::string> &options = {});

  const std::string &lastOutput() const { return lastOutput_; }

private:
  std::string control(const std::string &queue) const { return dir_.file("control/" + queue); }

  TempDir dir_;
  std::string socket_;
  std::unique_ptr<ChildProcess> cupsd_;
  bool started_ = false;
  std::string error_;
  std::string lastOutput_;
  int files_ = 0;
};

} // namespace vltr::test
