// The simulated spooler: printers and jobs in a directory (sim_state.h),
// with the same status bits as the real one and failures that can be armed
// per printer and operation. Nothing here prints; vlTRSimSpool and the tests
// play the printer by setting status bits.
#include "outside/vlTRLog.h"
#include "platform/spooler/sim_state.h"
#include "platform/spooler/spooler_internal.h"

#include <unordered_map>

namespace vltr::spooler {

using sim::Operation;
using sim::SimState;

namespace {

class SimSpooler;

class SimPrinterHandle : public Printer {
public:
  SimPrinterHandle(sim::SimStore &store, std::string name, std::uint32_t access)
      : store_(store), name_(std::move(name)), access_(access) {}
  const std::string &name() const override { return name_; }
  int readInfo(PrinterInfo *info) override;
  int readJobs(std::vector<JobInfo> *jobs) override;
  int control(std::uint32_t command) override;
  int controlJob(std::uint32_t jobId, std::uint32_t command) override;
  int writeInfo(const PrinterInfo &info) override;

private:
  // Runs body on the state unless the printer is gone or a failure is armed
  // for the operation; body returns an error code and whether it changed
  // anything.
  int run(Operation operation,
          const std::function<int(SimState &, sim::SimPrinter &, bool *changed)> &body);

  sim::SimStore &store_;
  std::string name_;
  std::uint32_t access_;
};

class SimSpooler : public Spooler {
public:
  explicit SimSpooler(std::string directory) : store_(std::move(directory)) {}
  std::string describe() const override { return "simulated spooler in " + store_.directory(); }
  int openPrinter(const std::string &name, std::uint32_t access,
                  std::unique_ptr<Printer> *printer) override;
  int enumPrinters(std::vector<PrinterInfo> *printers) override;
  int takeSnapshot(Snapshot *snapshot) override;

private:
  int readAll(std::vector<PrinterInfo> *printers, Snapshot *snapshot);
  sim::SimStore store_;
};

} // namespace

static PrinterInfo toPrinterInfo(const sim::SimPrinter &printer, std::uint32_t jobCount);
static JobInfo toJobInfo(sim::SimJob job);
static int logged(int error, const char *function, const std::string &detail);

static PrinterInfo toPrinterInfo(const sim::SimPrinter &printer, std::uint32_t jobCount) {
  PrinterInfo info;
  info.name = printer.name;
  info.port = printer.port;
  info.status = printer.status;
  info.attributes = printer.attributes;
  info.jobCount = jobCount;
  return info;
}

static JobInfo toJobInfo(sim::SimJob job) {
  JobInfo info;
  info.id = job.id;
  info.printer = std::move(job.printer);
  info.document = std::move(job.document);
  info.notifyName = std::move(job.owner);
  info.status = job.status;
  info.totalPages = job.pages;
  info.size = job.size;
  return info;
}

// A damaged or unreadable state file is worth a line: nothing else says why
// every printer suddenly fails.
static int logged(int error, const char *function, const std::string &detail) {
  if (error != SPOOLER_OK && !detail.empty())
    vlLog_Write(2, 0, nullptr, kLogModule, function, "s", detail.c_str());
  return error;
}

int SimPrinterHandle::run(
    Operation operation,
    const std::function<int(SimState &, sim::SimPrinter &, bool *changed)> &body) {
  int result = SPOOLER_OK;
  std::string detail;
  int error = store_.update(
      [&](SimState &state) {
        // The armed failure is consumed even when the printer has gone, so
        // a test's count is never left over for a later operation.
        if (state.takeFailure(name_, operation)) {
          result = SPOOLER_ERROR_GEN_FAILURE;
          return true;
        }
        sim::SimPrinter *printer = state.findPrinter(name_);
        if (printer == nullptr) {
          result = SPOOLER_ERROR_INVALID_PRINTER_NAME;
          return false;
        }
        bool changed = false;
        result = body(state, *printer, &changed);
        return changed;
      },
      &detail);
  return error != SPOOLER_OK ? logged(error, "SimSpooler", detail) : result;
}

int SimPrinterHandle::readInfo(PrinterInfo *info) {
  return run(Operation::Info, [&](SimState &state, sim::SimPrinter &printer, bool *) {
    *info = toPrinterInfo(printer, state.jobCount(printer.name));
    return SPOOLER_OK;
  });
}

int SimPrinterHandle::readJobs(std::vector<JobInfo> *jobs) {
  return run(Operation::Jobs, [&](SimState &state, sim::SimPrinter &printer, bool *) {
    jobs->clear();
    for (const auto &job : state.jobs)
      if (sameName(job.printer, printer.name))
        jobs->push_back(toJobInfo(job));
    return SPOOLER_OK;
  });
}

int SimPrinterHandle::control(std::uint32_t command) {
  if (!mayAdminister(access_))
    return SPOOLER_ERROR_ACCESS_DENIED;
  return run(Operation::Control, [&](SimState &state, sim::SimPrinter &printer, bool *changed) {
    switch (command) {
    case PRINTER_CONTROL_PAUSE:
      printer.status |= PRINTER_STATUS_PAUSED;
      break;
    case PRINTER_CONTROL_RESUME:
      printer.status &= ~PRINTER_STATUS_PAUSED;
      break;
    case PRINTER_CONTROL_PURGE:
      std::erase_if(state.jobs,
                    [&](const sim::SimJob &job) { return sameName(job.printer, printer.name); });
      break;
    default:
      return static_cast<int>(SPOOLER_ERROR_INVALID_PARAMETER);
    }
    *changed = true;
    return static_cast<int>(SPOOLER_OK);
  });
}

int SimPrinterHandle::controlJob(std::uint32_t jobId, std::uint32_t command) {
  if (!mayUse(access_))
    return SPOOLER_ERROR_ACCESS_DENIED;
  return run(Operation::Control, [&](SimState &state, sim::SimPrinter &printer, bool *changed) {
    sim::SimJob *job = state.findJob(printer.name, jobId);
    if (job == nullptr)
      return static_cast<int>(SPOOLER_ERROR_INVALID_PARAMETER);
    switch (command) {
    case JOB_CONTROL_PAUSE:
      job->status |= JOB_STATUS_PAUSED;
      break;
    case JOB_CONTROL_RESUME:
      job->status &= ~JOB_STATUS_PAUSED;
      break;
    case JOB_CONTROL_RESTART:
      // It prints again from the start: no longer printing or printed.
      job->status =
          (job->status | JOB_STATUS_RESTART) & ~(JOB_STATUS_PRINTING | JOB_STATUS_PRINTED);
      break;
    case JOB_CONTROL_CANCEL:
    case JOB_CONTROL_DELETE:
      std::erase_if(state.jobs, [&](const sim::SimJob &other) { return &other == job; });
      break;
    default:
      return static_cast<int>(SPOOLER_ERROR_INVALID_PARAMETER);
    }
    *changed = true;
    return static_cast<int>(SPOOLER_OK);
  });
}

int SimPrinterHandle::writeInfo(const PrinterInfo &info) {
  if (!mayAdminister(access_))
    return SPOOLER_ERROR_ACCESS_DENIED;
  return run(Operation::Control, [&](SimState &, sim::SimPrinter &printer, bool *changed) {
    if (!info.name.empty() && !sameName(info.name, printer.name))
      return static_cast<int>(SPOOLER_ERROR_NOT_SUPPORTED);
    printer.attributes = info.attributes;
    printer.port = info.port;
    *changed = true;
    return static_cast<int>(SPOOLER_OK);
  });
}

int SimSpooler::openPrinter(const std::string &name, std::uint32_t access,
                            std::unique_ptr<Printer> *printer) {
  int result = SPOOLER_OK;
  std::string canonical;
  std::string detail;
  int error = store_.update(
      [&](SimState &state) {
        if (state.takeFailure(name, Operation::Open)) {
          result = SPOOLER_ERROR_GEN_FAILURE;
          return true;
        }
        sim::SimPrinter *known = state.findPrinter(name);
        if (known == nullptr) {
          result = SPOOLER_ERROR_INVALID_PRINTER_NAME;
          return false;
        }
        canonical = known->name;
        return false;
      },
      &detail);
  if (error != SPOOLER_OK)
    return logged(error, "SimSpooler", detail);
  if (result == SPOOLER_OK)
    *printer = std::make_unique<SimPrinterHandle>(store_, canonical, access);
  return result;
}

// Enumeration and snapshots read the whole spooler. A printer with an armed
// failure is marked changed in the snapshot, so its handles read live and
// meet the failure exactly as per-printer reads would.
int SimSpooler::readAll(std::vector<PrinterInfo> *printers, Snapshot *snapshot) {
  std::string detail;
  int error = store_.update(
      [&](SimState &state) {
        // The job counts of all printers in one walk over the jobs: asking
        // the state per printer walks every job once for each printer, which
        // made a sweep of 500 printers with 20 jobs each cost 10000 x 500
        // name comparisons.
        std::unordered_map<std::string, std::uint32_t> jobCounts;
        for (const auto &job : state.jobs)
          ++jobCounts[nameKey(job.printer)];
        printers->clear();
        printers->reserve(state.printers.size());
        for (const auto &printer : state.printers) {
          auto counted = jobCounts.find(nameKey(printer.name));
          printers->push_back(
              toPrinterInfo(printer, counted == jobCounts.end() ? 0 : counted->second));
        }
        if (snapshot == nullptr)
          return false;
        // The state is read only and dropped afterwards: its texts move
        // into the snapshot rather than being copied.
        snapshot->jobs.clear();
        snapshot->jobs.reserve(state.jobs.size());
        for (auto &job : state.jobs)
          snapshot->jobs.push_back(toJobInfo(std::move(job)));
        for (const auto &failure : state.failures)
          snapshot->markChanged(failure.printer);
        return false;
      },
      &detail);
  return logged(error, "SimSpooler", detail);
}

int SimSpooler::enumPrinters(std::vector<PrinterInfo> *printers) {
  return readAll(printers, nullptr);
}

int SimSpooler::takeSnapshot(Snapshot *snapshot) {
  snapshot->clear();
  return readAll(&snapshot->printers, snapshot);
}

std::unique_ptr<Spooler> makeSimSpooler(const std::string &directory) {
  return std::make_unique<SimSpooler>(directory);
}

} // namespace vltr::spooler
