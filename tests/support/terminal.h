// A pseudo-terminal standing in for a logged-in user's terminal, and the
// login record file (VLTR_UTMP) that names it, for network message tests.
#pragma once

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <utility>
#include <utmpx.h>
#include <vector>

#include <gtest/gtest.h>

namespace vltr::test {

// A pseudo-terminal whose far end a logged-in user would hold.
class Terminal {
public:
  Terminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
      throw std::runtime_error("no pseudo-terminal");
    line_ = std::string(ptsname(master_)).substr(5); // without "/dev/"
    // Hold the far end open, as a login shell would.
    slave_ = open(("/dev/" + line_).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  ~Terminal() {
    close(slave_);
    close(master_);
  }
  const std::string &line() const { return line_; }
  // What the terminal has shown so far without its CRs (the terminal adds
  // its own), waiting up to the time-out for want.
  std::string readUntil(const std::string &want, int timeoutMs = 5000) {
    for (int waited = 0; shown_.find(want) == std::string::npos && waited < timeoutMs;
         waited += 50) {
      pollfd wait{master_, POLLIN, 0};
      if (poll(&wait, 1, 50) <= 0)
        continue;
      char buffer[4096];
      ssize_t got = read(master_, buffer, sizeof buffer);
      for (ssize_t i = 0; i < got; ++i) {
        if (buffer[i] != '\r')
          shown_ += buffer[i];
      }
    }
    return shown_;
  }

private:
  int master_ = -1;
  int slave_ = -1;
  std::string line_;
  std::string shown_;
};

inline void writeLoginRecords(const std::string &path,
                              const std::vector<std::pair<std::string, std::string>> &userLines) {
  std::FILE *file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  for (const auto &[user, line] : userLines) {
    utmpx entry{};
    entry.ut_type = USER_PROCESS;
    entry.ut_pid = getpid();
    std::strncpy(entry.ut_user, user.c_str(), sizeof entry.ut_user - 1);
    std::strncpy(entry.ut_line, line.c_str(), sizeof entry.ut_line - 1);
    ASSERT_EQ(std::fwrite(&entry, sizeof entry, 1, file), 1u);
  }
  std::fclose(file);
}

} // namespace vltr::test
