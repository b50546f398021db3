// The spooler interface's shared part: the choice of back end from
// PrintSpooler, and the snapshot-backed printer handle that lets one sweep
// read every printer with two requests while the checks keep their
// per-printer open/read calls.
#include "platform/spooler/spooler.h"

#include "outside/vlTRLog.h"
#include "outside/vlTRREG.h"
#include "platform/spooler/spooler_internal.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>

namespace vltr::spooler {

static std::string lowerCase(std::string text);
static bool parseCupsTarget(const std::string &target, std::string *host, int *port);

namespace {

// A printer opened from a snapshot. Reads come from the snapshot until this
// printer is changed (through this handle or another one of the same
// snapshot); the live handle is opened only when it is needed.
class SnapshotPrinter : public Printer {
public:
  SnapshotPrinter(Spooler &spooler, std::string name, std::uint32_t access,
                  std::shared_ptr<Snapshot> snapshot, std::unique_ptr<Printer> live)
      : spooler_(spooler), name_(std::move(name)), access_(access), snapshot_(std::move(snapshot)),
        live_(std::move(live)) {}

  const std::string &name() const override { return name_; }

  int readInfo(PrinterInfo *info) override {
    if (!snapshot_->changed(name_)) {
      if (const PrinterInfo *cached = snapshot_->findPrinter(name_)) {
        *info = *cached;
        return SPOOLER_OK;
      }
    }
    int error = live();
    return error ? error : live_->readInfo(info);
  }

  int readJobs(std::vector<JobInfo> *jobs) override {
    if (!snapshot_->changed(name_)) {
      *jobs = snapshot_->jobsOf(name_);
      return SPOOLER_OK;
    }
    int error = live();
    return error ? error : live_->readJobs(jobs);
  }

  int control(std::uint32_t command) override {
    int error = live();
    snapshot_->markChanged(name_);
    return error ? error : live_->control(command);
  }

  int controlJob(std::uint32_t jobId, std::uint32_t command) override {
    int error = live();
    snapshot_->markChanged(name_);
    return error ? error : live_->controlJob(jobId, command);
  }

  int writeInfo(const PrinterInfo &info) override {
    int error = live();
    snapshot_->markChanged(name_);
    return error ? error : live_->writeInfo(info);
  }

private:
  // Opens the live handle on first need.
  int live() {
    if (live_)
      return SPOOLER_OK;
    return spooler_.openPrinter(name_, access_, &live_);
  }

  Spooler &spooler_;
  std::string name_;
  std::uint32_t access_;
  std::shared_ptr<Snapshot> snapshot_;
  std::unique_ptr<Printer> live_;
};

// The spooler of a PrintSpooler value that names none: every call fails.
class UnusableSpooler : public Spooler {
public:
  explicit UnusableSpooler(std::string reason) : reason_(std::move(reason)) {}
  std::string describe() const override { return "no spooler (" + reason_ + ")"; }
  int openPrinter(const std::string &, std::uint32_t, std::unique_ptr<Printer> *) override {
    return SPOOLER_ERROR_SERVER_UNAVAILABLE;
  }
  int enumPrinters(std::vector<PrinterInfo> *) override { return SPOOLER_ERROR_SERVER_UNAVAILABLE; }
  int takeSnapshot(Snapshot *) override { return SPOOLER_ERROR_SERVER_UNAVAILABLE; }

private:
  std::string reason_;
};

struct SpoolerChoice {
  std::mutex mutex;
  std::unique_ptr<Spooler> spooler;
};

SpoolerChoice &choice() {
  static SpoolerChoice current;
  return current;
}

std::atomic<int> requestTimeoutMs{15000};

} // namespace

// Lower-cases ASCII letters only: printer names are byte strings.
static std::string lowerCase(std::string text) {
  for (char &c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string nameKey(const std::string &name) {
  return lowerCase(name);
}

bool sameName(const std::string &a, const std::string &b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// A sweep looks up every printer and its jobs: index them once, by lower-case
// name, when the snapshot has been filled (or refilled).
void Snapshot::buildIndex() const {
  if (indexedPrinters_ == printers.size() && indexedJobs_ == jobs.size())
    return;
  printerIndex_.clear();
  jobIndex_.clear();
  for (std::size_t i = 0; i < printers.size(); ++i)
    printerIndex_.emplace(lowerCase(printers[i].name), i);
  for (std::size_t i = 0; i < jobs.size(); ++i)
    jobIndex_[lowerCase(jobs[i].printer)].push_back(i);
  indexedPrinters_ = printers.size();
  indexedJobs_ = jobs.size();
}

void Snapshot::clear() {
  std::lock_guard lock(mutex_);
  printers.clear();
  jobs.clear();
  changed_.clear();
  printerIndex_.clear();
  jobIndex_.clear();
  indexedPrinters_ = ~std::size_t{0};
  indexedJobs_ = ~std::size_t{0};
}

const PrinterInfo *Snapshot::findPrinter(const std::string &name) const {
  std::lock_guard lock(mutex_);
  buildIndex();
  auto found = printerIndex_.find(lowerCase(name));
  return found == printerIndex_.end() ? nullptr : &printers[found->second];
}

std::vector<JobInfo> Snapshot::jobsOf(const std::string &printer) const {
  std::lock_guard lock(mutex_);
  buildIndex();
  std::vector<JobInfo> result;
  auto found = jobIndex_.find(lowerCase(printer));
  if (found != jobIndex_.end())
    for (std::size_t i : found->second)
      result.push_back(jobs[i]);
  return result;
}

void Snapshot::markChanged(const std::string &printer) {
  std::lock_guard lock(mutex_);
  changed_.insert(lowerCase(printer));
}

bool Snapshot::changed(const std::string &printer) const {
  std::lock_guard lock(mutex_);
  return changed_.count(lowerCase(printer)) != 0;
}

int Spooler::openPrinter(const std::string &name, std::uint32_t access,
                         const std::shared_ptr<Snapshot> &snapshot,
                         std::unique_ptr<Printer> *printer) {
  if (!snapshot)
    return openPrinter(name, access, printer);
  // A printer changed since the snapshot is opened for real, so the open
  // meets the spooler's present state.
  if (snapshot->changed(name)) {
    std::unique_ptr<Printer> live;
    int error = openPrinter(name, access, &live);
    if (error != SPOOLER_OK)
      return error;
    std::string canonical = live->name();
    *printer =
        std::make_unique<SnapshotPrinter>(*this, canonical, access, snapshot, std::move(live));
    return SPOOLER_OK;
  }
  const PrinterInfo *known = snapshot->findPrinter(name);
  if (known == nullptr)
    return SPOOLER_ERROR_INVALID_PRINTER_NAME;
  *printer = std::make_unique<SnapshotPrinter>(*this, known->name, access, snapshot, nullptr);
  return SPOOLER_OK;
}

// Splits "HOST[:PORT]" or "/path"; an IPv6 address is written in brackets.
static bool parseCupsTarget(const std::string &target, std::string *host, int *port) {
  *port = 0;
  if (target.empty())
    return false;
  if (target.front() == '/') {
    *host = target;
    return true;
  }
  std::string hostPart = target;
  std::string portPart;
  auto close = target.rfind(']');
  auto colon = target.rfind(':');
  if (colon != std::string::npos && (close == std::string::npos || colon > close)) {
    hostPart = target.substr(0, colon);
    portPart = target.substr(colon + 1);
  }
  if (hostPart.size() >= 2 && hostPart.front() == '[' && hostPart.back() == ']')
    hostPart = hostPart.substr(1, hostPart.size() - 2);
  if (hostPart.empty())
    return false;
  if (!portPart.empty()) {
    int value = 0;
    auto [end, error] = std::from_chars(portPart.data(), portPart.data() + portPart.size(), value);
    if (error != std::errc() || end != portPart.data() + portPart.size() || value < 1 ||
        value > 65535)
      return false;
    *port = value;
  }
  *host = hostPart;
  return true;
}

std::unique_ptr<Spooler> makeSpooler(const std::string &setting, std::string *error) {
  std::string lower = lowerCase(setting);
  if (setting.empty() || lower == "cups")
    return makeCupsSpooler("", 0);
  if (lower.rfind("cups:", 0) == 0) {
    std::string host;
    int port = 0;
    if (parseCupsTarget(setting.substr(5), &host, &port))
      return makeCupsSpooler(host, port);
    if (error)
      *error = "\"" + setting + "\" names no CUPS server (cups:HOST[:PORT] or cups:/socket)";
    return nullptr;
  }
  if (lower.rfind("sim:", 0) == 0 && setting.size() > 4)
    return makeSimSpooler(setting.substr(4));
  if (error)
    *error = "\"" + setting + "\" is not a spooler (cups, cups:HOST[:PORT], cups:/socket, sim:DIR)";
  return nullptr;
}

Spooler &currentSpooler() {
  SpoolerChoice &current = choice();
  std::lock_guard lock(current.mutex);
  if (!current.spooler) {
    std::string setting;
    vlREG_ReadString(VLTR_ROOT_KEY, "PrintSpooler", &setting, 4096, "");
    std::string error;
    current.spooler = makeSpooler(setting, &error);
    if (!current.spooler) {
      vlLog_Write(1, 0, nullptr, kLogModule, "SelectSpooler", "ss",
                  "The PrintSpooler value cannot be used: ", error.c_str());
      current.spooler = std::make_unique<UnusableSpooler>(error);
    }
  }
  return *current.spooler;
}

void selectSpooler(std::unique_ptr<Spooler> spooler) {
  SpoolerChoice &current = choice();
  std::lock_guard lock(current.mutex);
  current.spooler = std::move(spooler);
}

void setCupsTimeout(int milliseconds) {
  requestTimeoutMs = std::max(milliseconds, 1);
}
int cupsTimeout() {
  return requestTimeoutMs;
}

} // namespace vltr::spooler
