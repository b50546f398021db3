// The simulated spooler's state: printers, jobs and armed failures, kept in
// one text file in the spooler's directory so that the service, the tests
// and vlTRSimSpool can share it.
//
// File "spool.state", one record a line, fields separated by tabs:
//   vltr-simspool<TAB>1
//   next-job<TAB>N
//   printer<TAB>NAME<TAB>status=0xS<TAB>attributes=0xA<TAB>port=P
//   job<TAB>PRINTER<TAB>ID<TAB>status=0xS<TAB>pages=N<TAB>size=N<TAB>owner=U<TAB>document=D
//   fail<TAB>PRINTER<TAB>OPERATION<TAB>COUNT
// Texts escape backslash, tab, line feed and carriage return as \\ \t \n \r.
// Every change locks "spool.lock" (flock, so threads of one process exclude
// each other too) and replaces the file atomically.
#pragma once

#include "platform/spooler/spooler.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vltr::spooler::sim {

// The operations a failure can be armed for.
enum class Operation { Open, Info, Jobs, Control };
const char *operationName(Operation operation);
bool parseOperation(std::string_view text, Operation *operation);

struct SimPrinter {
  std::string name;
  std::uint32_t status = 0;
  std::uint32_t attributes = PRINTER_ATTRIBUTE_LOCAL;
  std::string port = "file:///dev/null";
};

struct SimJob {
  std::string printer;
  std::uint32_t id = 0;
  std::uint32_t status = 0;
  std::uint32_t pages = 0;
  std::uint64_t size = 0;
  std::string owner;
  std::string document;
};

struct SimFailure {
  std::string printer;
  Operation operation = Operation::Open;
  std::uint32_t count = 0; // failures still to come
};

struct SimState {
  std::uint32_t nextJob = 1;
  std::vector<SimPrinter> printers;
  std::vector<SimJob> jobs;
  std::vector<SimFailure> failures;

  SimPrinter *findPrinter(const std::string &name);
  SimJob *findJob(const std::string &printer, std::uint32_t id);
  std::uint32_t jobCount(const std::string &printer) const;
  // Consumes one armed failure of the operation on the printer, if any.
  bool takeFailure(const std::string &printer, Operation operation);
};

// Parses the file text; false with "line N: what" in error for a damaged file.
bool parseState(std::string_view text, SimState *state, std::string *error);
std::string formatState(const SimState &state);

// The lines of "vlTRSimSpool show": a printer, then its jobs.
std::string formatPrinterLine(const SimPrinter &printer);
std::string formatJobLine(const SimJob &job);

// Escaping of texts in the file and in show's output.
std::string escapeText(std::string_view text);
bool unescapeText(std::string_view text, std::string *out);

// Parses decimal or 0x hex bits; false for anything else or above 32 bits.
bool parseBits(std::string_view text, std::uint32_t *bits);

// The state file in a directory, under the cross-process lock.
class SimStore {
public:
  explicit SimStore(std::string directory) : directory_(std::move(directory)) {}
  const std::string &directory() const { return directory_; }

  // Runs change on the current state under the lock and writes the state back
  // when change returns true. Returns 0 or a spooler error code (the file
  // cannot be read or written, or is damaged: detail in errorText).
  int update(const std::function<bool(SimState &)> &change, std::string *errorText = nullptr);
  // Creates the directory (and an empty state) when missing.
  int create(std::string *errorText = nullptr);

private:
  std::string directory_;
};

} // namespace vltr::spooler::sim
