// A service database of its own for each test, the fake service registered
// in it, and clean-up of every service process the test left running.
#pragma once

#include "platform/scm/scm.h"
#include "tests/support/test_support.h"

#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vltr::test {

class ScmFixture : public ::testing::Test {
protected:
  void SetUp() override { setEnv("VLTR_SCM_DIR", databaseDir().c_str()); }

  // Services are detached from the test, so nothing else would end them.
  // Only a pid that the fake service itself reported is signalled.
  void TearDown() override {
    for (const std::string &name : registered_) {
      scm::ServiceStatus status;
      if (scm::QueryServiceStatus(name, &status) == scm::SCM_OK && status.processId > 0 &&
          markerHas("launched pid=" + std::to_string(status.processId)))
        kill(status.processId, SIGKILL);
    }
    for (const auto &[name, value] : savedEnvironment_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }

  // Sets (or with null, removes) a variable of this process until the test ends.
  void setEnv(const std::string &name, const char *value) {
    if (savedEnvironment_.count(name) == 0) {
      const char *old = std::getenv(name.c_str());
      savedEnvironment_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value)
      setenv(name.c_str(), value, 1);
    else
      unsetenv(name.c_str());
  }

  std::string databaseDir() const { return dir_.file("scm"); }
  std::string markerPath() const { return dir_.file("marker"); }
  std::string releasePath() const { return dir_.file("release"); }
  std::string markerText() const { return readFile(markerPath()); }
  bool markerHas(const std::string &line) const {
    return std::string("\n")
               .append(markerText())
               .find(std::string("\n").append(line).append("\n")) != std::string::npos;
  }

  // Registers the fake service with a behaviour from its header comment.
  void registerFake(const std::string &mode = "", const std::string &name = "vltrFake") {
    scm::ServiceConfig config;
    config.name = name;
    config.displayName = "Fake " + name;
    config.programPath = builtProgram("tests/vltr_fake_service");
    config.environment = {{"VLTR_FAKE_SERVICE_NAME", name},
                          {"VLTR_FAKE_SERVICE_MARKER", markerPath()},
                          {"VLTR_FAKE_SERVICE_MODE", mode},
                          {"VLTR_FAKE_SERVICE_RELEASE", releasePath()}};
    ASSERT_EQ(scm::CreateService(config), scm::SCM_OK);
    registered_.push_back(name);
  }

  scm::ServiceStatus query(const std::string &name = "vltrFake") const {
    scm::ServiceStatus status;
    EXPECT_EQ(scm::QueryServiceStatus(name, &status), scm::SCM_OK);
    return status;
  }

  bool waitForState(std::uint32_t state, const std::string &name = "vltrFake") const {
    return waitFor([&] {
      scm::ServiceStatus status;
      return scm::QueryServiceStatus(name, &status) == scm::SCM_OK && status.currentState == state;
    });
  }

  std::vector<std::string> registered_;

private:
  TempDir dir_;
  std::map<std::string, std::optional<std::string>> savedEnvironment_;
};

} // namespace vltr::test
