// The print spooler stand-in.
//
// One interface over two back ends, chosen once from the root value
// PrintSpooler: the local or a named CUPS server (libcups, IPP), or the
// simulated spooler kept in a directory (tests and the demo). Nothing above
// this folder knows which one is in use.
//
// The numeric codes are the Windows ones that the checks and the control
// operations test: printer and job status bits, printer attributes, access
// masks and control commands. README.md beside this file maps CUPS onto them.
//
// Every operation returns 0 for success or one of the error codes below.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace vltr::spooler {

// Printer status bits.
enum : std::uint32_t {
  PRINTER_STATUS_PAUSED = 0x1,
  PRINTER_STATUS_ERROR = 0x2,
  PRINTER_STATUS_PENDING_DELETION = 0x4,
  PRINTER_STATUS_PAPER_JAM = 0x8,
  PRINTER_STATUS_PAPER_OUT = 0x10,
  PRINTER_STATUS_MANUAL_FEED = 0x20,
  PRINTER_STATUS_PAPER_PROBLEM = 0x40,
  PRINTER_STATUS_OFFLINE = 0x80,
  PRINTER_STATUS_IO_ACTIVE = 0x100,
  PRINTER_STATUS_BUSY = 0x200,
  PRINTER_STATUS_PRINTING = 0x400,
  PRINTER_STATUS_OUTPUT_BIN_FULL = 0x800,
  PRINTER_STATUS_NOT_AVAILABLE = 0x1000,
  PRINTER_STATUS_WAITING = 0x2000,
  PRINTER_STATUS_PROCESSING = 0x4000,
  PRINTER_STATUS_INITIALIZING = 0x8000,
  PRINTER_STATUS_WARMING_UP = 0x10000,
  PRINTER_STATUS_TONER_LOW = 0x20000,
  PRINTER_STATUS_NO_TONER = 0x40000,
  PRINTER_STATUS_PAGE_PUNT = 0x80000,
  PRINTER_STATUS_USER_INTERVENTION = 0x100000,
  PRINTER_STATUS_OUT_OF_MEMORY = 0x200000,
  PRINTER_STATUS_DOOR_OPEN = 0x400000,
  PRINTER_STATUS_SERVER_UNKNOWN = 0x800000,
  PRINTER_STATUS_POWER_SAVE = 0x1000000,
};

// Job status bits.
enum : std::uint32_t {
  JOB_STATUS_PAUSED = 0x1,
  JOB_STATUS_ERROR = 0x2,
  JOB_STATUS_DELETING = 0x4,
  JOB_STATUS_SPOOLING = 0x8,
  JOB_STATUS_PRINTING = 0x10,
  JOB_STATUS_OFFLINE = 0x20,
  JOB_STATUS_PAPEROUT = 0x40,
  JOB_STATUS_PRINTED = 0x80,
  JOB_STATUS_DELETED = 0x100,
  JOB_STATUS_BLOCKED_DEVQ = 0x200,
  JOB_STATUS_USER_INTERVENTION = 0x400,
  JOB_STATUS_RESTART = 0x800,
  JOB_STATUS_COMPLETE = 0x1000,
};

// Printer attribute bits.
enum : std::uint32_t {
  PRINTER_ATTRIBUTE_DEFAULT = 0x4,
  PRINTER_ATTRIBUTE_SHARED = 0x8,
  PRINTER_ATTRIBUTE_NETWORK = 0x10,
  PRINTER_ATTRIBUTE_LOCAL = 0x40,
  PRINTER_ATTRIBUTE_WORK_OFFLINE = 0x400,
};

// Access masks for openPrinter. 0 means the default, which is use.
enum : std::uint32_t {
  PRINTER_ACCESS_ADMINISTER = 0x4,
  PRINTER_ACCESS_USE = 0x8,
  PRINTER_ALL_ACCESS = 0xF000C,
};

// Printer control commands.
enum : std::uint32_t {
  PRINTER_CONTROL_PAUSE = 1,
  PRINTER_CONTROL_RESUME = 2,
  PRINTER_CONTROL_PURGE = 3,
};

// Job control commands.
enum : std::uint32_t {
  JOB_CONTROL_PAUSE = 1,
  JOB_CONTROL_RESUME = 2,
  JOB_CONTROL_CANCEL = 3,
  JOB_CONTROL_RESTART = 4,
  JOB_CONTROL_DELETE = 5,
};

// Error codes. Unmapped IPP status codes of the CUPS back end are returned
// as themselves (0x0400 and up, see README.md).
enum : int {
  SPOOLER_OK = 0,
  SPOOLER_ERROR_ACCESS_DENIED = 5,           // the handle or the server refuses the change
  SPOOLER_ERROR_GEN_FAILURE = 31,            // a failure injected into the simulated spooler
  SPOOLER_ERROR_NOT_SUPPORTED = 50,          // a change the back end cannot make
  SPOOLER_ERROR_INVALID_PARAMETER = 87,      // unknown command, or the job is not in the queue
  SPOOLER_ERROR_INTERNAL = 1359,             // damaged state, or a server answer we cannot read
  SPOOLER_ERROR_TIMEOUT = 1460,              // the server did not answer in time
  SPOOLER_ERROR_SERVER_UNAVAILABLE = 1722,   // the spooler cannot be reached
  SPOOLER_ERROR_INVALID_PRINTER_NAME = 1801, // no such printer
};

struct PrinterInfo {
  std::string name;
  std::string port;
  std::uint32_t status = 0;
  std::uint32_t attributes = 0;
  std::uint32_t jobCount = 0;
};

struct JobInfo {
  std::uint32_t id = 0;
  std::string printer;
  std::string document;
  std::string notifyName; // the owner
  std::uint32_t status = 0;
  std::uint32_t totalPages = 0;
  std::uint64_t size = 0; // bytes
};

// Printer and job names compare without regard to case, as the spoolers do.
bool sameName(const std::string &a, const std::string &b);
// A name's key in maps and sets: two names are the same exactly when their
// keys are equal.
std::string nameKey(const std::string &name);

// Everything one sweep needs, read with one request for all printers and one
// for all jobs. Handles opened from a snapshot answer their first reads from
// it; a change made through any of them makes that printer read live again.
class Snapshot {
public:
  std::vector<PrinterInfo> printers;
  std::vector<JobInfo> jobs; // of all printers, in queue order per printer

  // Empties it for a new sweep: takeSnapshot starts with this, so a snapshot
  // may be reused.
  void clear();

  const PrinterInfo *findPrinter(const std::string &name) const;
  std::vector<JobInfo> jobsOf(const std::string &printer) const;

  void markChanged(const std::string &printer);
  bool changed(const std::string &printer) const;

private:
  void buildIndex() const;

  mutable std::mutex mutex_;
  std::set<std::string> changed_; // lower-case names
  // Lookup by lower-case name, built on first use after clear() (and again
  // should the vectors change size).
  mutable std::unordered_map<std::string, std::size_t> printerIndex_;
  mutable std::unordered_map<std::string, std::vector<std::size_t>> jobIndex_;
  mutable std::size_t indexedPrinters_ = ~std::size_t{0};
  mutable std::size_t indexedJobs_ = ~std::size_t{0};
};

// An open printer. Destroying it closes it. One thread uses a printer at a
// time; the spooler itself may be shared by all threads.
class Printer {
public:
  virtual ~Printer() = default;
  virtual const std::string &name() const = 0;
  virtual int readInfo(PrinterInfo *info) = 0;
  virtual int readJobs(std::vector<JobInfo> *jobs) = 0;
  virtual int control(std::uint32_t command) = 0;
  virtual int controlJob(std::uint32_t jobId, std::uint32_t command) = 0;
  // Writes back what can change: the work-offline attribute and the port.
  // Status bits are ignored, as the spooler owns them.
  virtual int writeInfo(const PrinterInfo &info) = 0;
};

class Spooler {
public:
  virtual ~Spooler() = default;
  // One line for logs and tools: which spooler this is.
  virtual std::string describe() const = 0;
  virtual int openPrinter(const std::string &name, std::uint32_t access,
                          std::unique_ptr<Printer> *printer) = 0;
  // The spooler's own queues; CUPS leaves out queues of remote servers.
  virtual int enumPrinters(std::vector<PrinterInfo> *printers) = 0;
  virtual int takeSnapshot(Snapshot *snapshot) = 0;

  // Opens a printer whose reads come from the snapshot until it is changed.
  // A printer missing from the snapshot cannot be opened.
  int openPrinter(const std::string &name, std::uint32_t access,
                  const std::shared_ptr<Snapshot> &snapshot, std::unique_ptr<Printer> *printer);
};

// Builds the back end a PrintSpooler value names: "", "cups" (local CUPS,
// honouring CUPS_SERVER), "cups:HOST[:PORT]", "cups:/path/to/socket" or
// "sim:DIR". Returns null and sets error for any other text.
std::unique_ptr<Spooler> makeSpooler(const std::string &setting, std::string *error = nullptr);

// The process's spooler, chosen from the root value PrintSpooler on first
// use. A value that names no back end gives a spooler that refuses every
// operation with SPOOLER_ERROR_SERVER_UNAVAILABLE (and says why in the log).
Spooler &currentSpooler();
// Replaces the process's spooler (start-up and tests), while no other thread
// uses the one it replaces.
void selectSpooler(std::unique_ptr<Spooler> spooler);

// How long one CUPS request may take, in milliseconds (default 15000).
void setCupsTimeout(int milliseconds);
int cupsTimeout();

} // namespace vltr::spooler
