// What the monitor's tests run in: the service environment of the alerting
// tests (registry, data directory, log), a simulated spooler in a temporary
// directory made current for the process, and a fresh monitor state.
#pragma once

#include "alerting/alert_records.h"
#include "monitor/monitor_state.h"
#include "platform/profile.h"
#include "platform/spooler/sim_state.h"
#include "tests/console/console_environment.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace vltr::test {

struct AlertSeen {
  std::string message, title, source, info1, info2, info3, autoResponse;
};

class MonitorEnvironment {
public:
  MonitorEnvironment() : store_(spool_.path()) {
    EXPECT_EQ(store_.create(), 0);
    spooler::selectSpooler(spooler::makeSpooler("sim:" + spool_.path()));
    monitor::ResetMonitorState();
    service::host().settings.notifyRunningActions = 0;
  }
  ~MonitorEnvironment() {
    spooler::selectSpooler(nullptr);
    monitor::ResetMonitorState();
  }

  // Adds or replaces a printer with its jobs.
  void setPrinter(const std::string &name, std::uint32_t status,
                  const std::vector<spooler::sim::SimJob> &jobs = {},
                  std::uint32_t attributes = spooler::PRINTER_ATTRIBUTE_LOCAL) {
    ASSERT_EQ(0, store_.update([&](spooler::sim::SimState &state) {
      std::erase_if(state.printers, [&](const auto &p) { return p.name == name; });
      std::erase_if(state.jobs, [&](const auto &j) { return j.printer == name; });
      spooler::sim::SimPrinter printer;
      printer.name = name;
      printer.status = status;
      printer.attributes = attributes;
      state.printers.push_back(printer);
      for (spooler::sim::SimJob job : jobs) {
        job.printer = name;
        job.id = state.nextJob++;
        state.jobs.push_back(job);
      }
      return true;
    }));
  }
  void setStatus(const std::string &name, std::uint32_t status) {
    ASSERT_EQ(0, store_.update([&](spooler::sim::SimState &state) {
      state.findPrinter(name)->status = status;
      return true;
    }));
  }
  void failNext(const std::string &name, spooler::sim::Operation operation, unsigned count) {
    ASSERT_EQ(0, store_.update([&](spooler::sim::SimState &state) {
      state.failures.push_back({name, operation, count});
      return true;
    }));
  }

  // The simulated spooler's state as it is now.
  spooler::sim::SimState spoolerState() {
    spooler::sim::SimState copy;
    EXPECT_EQ(0, store_.update([&](spooler::sim::SimState &state) {
      copy = state;
      return false;
    }));
    return copy;
  }

  // The alert records written so far, in number order.
  std::vector<AlertSeen> alerts() const {
    std::vector<AlertSeen> seen;
    for (int n = 1; fileExists(record(n)); ++n) {
      auto get = [&](const char *key) {
        return profile::getString("Default", key, "N/A", record(n));
      };
      seen.push_back({get("Message"), get("ErrorTitle"), get("AppName"), get("AdditionalInfo1"),
                      get("AdditionalInfo2"), get("AdditionalInfo3"), get("Auto-Response")});
    }
    return seen;
  }
  std::string record(int n) const {
    return service_.dataDirectory() + "/PRQ" + std::to_string(n) + ".err";
  }
  std::string pendingList() const { return readFile(service_.dataDirectory() + "/Unsent.prq"); }
  const ServiceEnvironment &service() const { return service_; }

  // The message as the record keeps it: NotifyError blanks quotes and breaks.
  static std::string cleaned(std::string text) {
    CleanAlertText(text);
    return text;
  }

private:
  ServiceEnvironment service_;
  TempDir spool_;
  spooler::sim::SimStore store_;
};

// A check record as the configuration would load it.
inline monitor::CheckRecord makeCheck(const std::string &type, std::int32_t threshold = 0,
                                      std::int32_t countBeforeAction = 0,
                                      bool includePaused = false,
                                      std::int32_t nonNotificationPeriod = 0) {
  monitor::CheckRecord check;
  check.typeName = type;
  check.alertLevel = 4;
  check.actionCode = 0;
  check.threshold = threshold;
  check.countBeforeAction = countBeforeAction;
  check.includePaused = includePaused;
  check.nonNotificationPeriod = nonNotificationPeriod;
  return check;
}

inline spooler::sim::SimJob makeJob(const std::string &document, std::uint32_t status,
                                    std::uint32_t pages = 1, std::uint64_t size = 100) {
  spooler::sim::SimJob job;
  job.document = document;
  job.owner = "ann";
  job.status = status;
  job.pages = pages;
  job.size = size;
  return job;
}

} // namespace vltr::test
