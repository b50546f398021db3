// What the files of the service control manager share: the layout of an
// entry's directory, the entry's file formats and their parsers, process
// identity from /proc, the database lock and the control channel.
//
// An entry is the directory DB/<name in lower case> holding
//   config       key=value lines (mode 0600: the saved environment may matter)
//   status       key=value lines, replaced atomically by each status report
//   token        the one-use proof handed to the process StartService launched
//   deleted      marker of an entry deleted while its service ran
//   control.sock the dispatcher's unix socket (mode 0600)
//   output.log   standard output and error of the last run
// Nothing here is part of the public interface.
#pragma once

#include "platform/scm/scm.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace vltr::scm::detail {

// Windows allows 256 characters; a directory name here holds at most 255 bytes.
inline constexpr std::size_t kMaxNameLength = 255;
inline constexpr std::size_t kMaxConfigBytes = 256 * 1024;
inline constexpr std::size_t kMaxStatusBytes = 4096;
inline constexpr std::size_t kMaxTokenBytes = 128;
// How long StartService waits for the dispatcher and ControlService for the handler.
inline constexpr int kServiceWaitMs = 30000;

// --- names and paths (database.cpp) ---

bool validServiceName(const std::string &name);
std::string foldName(const std::string &name);

struct EntryPaths {
  std::string dir;
  std::string config;
  std::string status;
  std::string token;
  std::string deleted;
  std::string socket;
  std::string output;
};

EntryPaths entryPaths(const std::string &databaseDir, const std::string &name);

// The database directory, created (0755, with its parents) when create is set.
// SCM_OK, SCM_ERROR_ACCESS_DENIED or SCM_ERROR_DATABASE_UNAVAILABLE.
int openDatabase(bool create, std::string *dir);

// Maps an errno value of a database file operation to an error code.
int errorFromErrno(int error);

// Holds the database-wide lock (flock on DB/.lock) for a change of entries.
class DatabaseLock {
public:
  explicit DatabaseLock(const std::string &databaseDir);
  ~DatabaseLock();
  DatabaseLock(const DatabaseLock &) = delete;
  DatabaseLock &operator=(const DatabaseLock &) = delete;

private:
  int fd_ = -1;
};

// Removes an entry's directory with everything in it.
void removeEntry(const EntryPaths &paths);

// --- files (entry_files.cpp) ---

// Reads a whole file of at most limit bytes; false with errno-style *error
// (EFBIG when larger).
bool readSmallFile(const std::string &path, std::size_t limit, std::string *content, int *error);
// Writes content to path through a temporary file and rename; 0 or an errno value.
int writeFileAtomically(const std::string &path, const std::string &content, mode_t mode,
                        bool durable);

// Letters, digits and '_', not starting with a digit.
bool validEnvironmentName(std::string_view name);

std::string escapeValue(std::string_view value);
bool unescapeValue(std::string_view text, std::string *value);

std::string formatConfig(const ServiceConfig &config);
// False on any line it cannot read or when name or programPath is missing.
bool parseConfig(std::string_view text, ServiceConfig *config);

// The status as written, with the start time that tells the process that
// reported it from a later one with the same pid.
struct StatusRecord {
  ServiceStatus status;
  std::uint64_t startTime = 0;
};

std::string formatStatus(const StatusRecord &record);
bool parseStatus(std::string_view text, StatusRecord *record);

// --- processes (process_identity.cpp) ---

// Field 3 (state) and field 22 (start time in clock ticks) of /proc/PID/stat.
bool parseProcStat(std::string_view text, char *state, std::uint64_t *startTime);
// The start time of a live (not zombie) process; 0 when it is gone.
std::uint64_t processStartTime(pid_t pid);
// True when pid is alive and is the process that started at startTime.
bool processMatches(pid_t pid, std::uint64_t startTime);

// --- status (database.cpp) ---

// The entry's status with dead processes read as stopped. SCM_OK, or
// SCM_ERROR_SERVICE_DOES_NOT_EXIST when the entry is missing.
int readLiveStatus(const EntryPaths &paths, StatusRecord *record);
bool entryExists(const EntryPaths &paths);
bool isActive(const StatusRecord &record);

// --- control channel (control_channel.cpp) ---

std::string formatControlRequest(std::uint32_t control);
// Reads one "CONTROL n\n" request; false for anything else.
bool parseControlRequest(std::string_view text, std::uint32_t *control);

inline constexpr std::string_view kReplyDone = "DONE\n";
inline constexpr std::string_view kReplyNoHandler = "NOHANDLER\n";

// Creates the listening socket at path (mode 0600), replacing a stale one.
// Returns the descriptor or -1 with errno set.
int listenControlSocket(const std::string &path);

enum class ControlOutcome { Done, NoHandler, Unreachable, TimedOut };
// Sends control over the socket at path and waits up to timeoutMs for the reply.
ControlOutcome sendControl(const std::string &path, std::uint32_t control, int timeoutMs);

// Reads up to limit bytes from fd until a line end, the peer closing or the
// deadline; false on time-out or error.
bool readLine(int fd, std::size_t limit, int timeoutMs, std::string *line);

} // namespace vltr::scm::detail
