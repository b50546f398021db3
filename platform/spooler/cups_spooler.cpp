// The CUPS back end: every spooler operation is one or a few IPP requests
// to the CUPS scheduler through libcups, each on a connection with a bounded
// time-out so that a slow or unreachable server never blocks a caller for
// ever. A sweep reads all printers with one CUPS-Get-Printers request and
// all queued jobs with one Get-Jobs request (takeSnapshot).
//
// Admin requests go to /admin/ and job requests to /jobs/, as lpadmin and
// cancel do, so the server's policy applies as it does to them. Running as
// root over the local socket, libcups proves the identity with the peer's
// credentials and the default policy lets root administer.
#include "outside/vlTRLog.h"
#include "platform/spooler/cups_mapping.h"
#include "platform/spooler/spooler_internal.h"

#include <cups/cups.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vltr::spooler {

namespace {

struct Target {
  std::string host; // a name, an address or a socket path
  int port = 631;
};

// One connection for the life of a handle or of one call.
class Connection {
public:
  Connection() = default;
  Connection(const Connection &) = delete;
  Connection &operator=(const Connection &) = delete;
  ~Connection() {
    if (http_)
      httpClose(http_);
  }
  int open(const Target &target);
  // Sends the request (consumed) and returns the response, or null with
  // the error code in *error and a line at logLevel saying why: changes
  // log refusals as warnings, reads (repeated every sweep) as detail.
  ipp_t *send(ipp_t *request, const char *resource, bool jobRequest, int *error, int logLevel = 5);
  // The same for a read, whose answer may be large (all printers, all jobs):
  // the body is taken in bulk and parsed from memory. libcups parses an
  // answer straight off the socket with a poll and a recv for every few
  // bytes, which made one 4000-job answer cost more than lpstat's whole run.
  ipp_t *sendRead(ipp_t *request, const char *resource, int *error);

private:
  http_t *http_ = nullptr;
};

class CupsSpooler;

class CupsPrinter : public Printer {
public:
  CupsPrinter(const Target &target, std::string name, std::uint32_t access)
      : target_(target), name_(std::move(name)), access_(access) {}
  const std::string &name() const override { return name_; }
  int connect() { return connection_.open(target_); }
  int readInfo(PrinterInfo *info) override;
  int readJobs(std::vector<JobInfo> *jobs) override;
  int control(std::uint32_t command) override;
  int controlJob(std::uint32_t jobId, std::uint32_t command) override;
  int writeInfo(const PrinterInfo &info) override;

private:
  int simple(ipp_op_t operation, const char *resource, bool jobRequest);
  int readJob(std::uint32_t jobId, int *state, std::string *printer);
  int jobRequest(ipp_op_t operation, std::uint32_t jobId);
  int modify(const std::string &uri, int shared);

  Target target_;
  std::string name_;
  std::uint32_t access_;
  Connection connection_;
};

class CupsSpooler : public Spooler {
public:
  explicit CupsSpooler(Target target) : target_(std::move(target)) {}
  std::string describe() const override {
    // Built with append: GCC 12 at -O3 warns falsely (-Wrestrict) on
    // "literal" + string.
    std::string text = "CUPS at ";
    text.append(target_.host);
    if (target_.host.front() != '/')
      text.append(":").append(std::to_string(target_.port));
    return text;
  }
  int openPrinter(const std::string &name, std::uint32_t access,
                  std::unique_ptr<Printer> *printer) override;
  int enumPrinters(std::vector<PrinterInfo> *printers) override;
  int takeSnapshot(Snapshot *snapshot) override;

private:
  Target target_;
};

// Attributes a sweep needs, and nothing else: the answers stay small.
const char *const kPrinterAttributes[] = {
    "printer-name", "printer-state", "printer-state-reasons", "printer-is-accepting-jobs",
    "device-uri",   "printer-type",  "printer-is-shared",     "queued-job-count"};
const char *const kJobAttributes[] = {
    "job-id",       "job-name",        "job-originating-user-name", "job-state",
    "job-k-octets", "job-impressions", "job-state-reasons",         "job-printer-uri"};

struct RawPrinter {
  PrinterInfo info;
  int state = 3;
  std::vector<std::string> reasons;
};

struct RawJob {
  JobInfo info;
  int state = 3;
  std::vector<std::string> reasons;
};

} // namespace

static const char *noPassword(const char *, http_t *, const char *, const char *, void *);
static int abortOnTimeout(http_t *, void *);
static std::string printerUri(const std::string &name);
static ipp_t *newRequest(ipp_op_t operation, const std::string &printerUriText);
static void requestAttributes(ipp_t *request, const char *const *names, int count);
static std::vector<std::string> stringValues(ipp_attribute_t *attribute);
static ssize_t readMemory(void *context, ipp_uchar_t *buffer, size_t bytes);
static std::string textOf(ipp_attribute_t *attribute);
static std::vector<RawPrinter> parsePrinters(ipp_t *response);
static std::vector<RawJob> parseJobs(ipp_t *response);
static std::string lastSegment(const char *uri);
static PrinterInfo finishPrinter(const RawPrinter &raw);
static int errorFromStatus(ipp_status_t status, bool jobRequest);

// Never prompt: the service has no terminal, and a refusal must come back
// as an error code, not as a wait for a password.
static const char *noPassword(const char *, http_t *, const char *, const char *, void *) {
  return nullptr;
}

static int abortOnTimeout(http_t *, void *) {
  return 0;
}

// The scheduler reads only the resource path of a printer-uri.
static std::string printerUri(const std::string &name) {
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof(uri), "ipp", nullptr, "localhost", 631,
                   "/printers/%s", name.c_str());
  return uri;
}

static ipp_t *newRequest(ipp_op_t operation, const std::string &printerUriText) {
  ipp_t *request = ippNewRequest(operation);
  if (!printerUriText.empty())
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 printerUriText.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  return request;
}

static void requestAttributes(ipp_t *request, const char *const *names, int count) {
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", count, nullptr,
                names);
}

static int errorFromStatus(ipp_status_t status, bool jobRequest) {
  switch (status) {
  case IPP_STATUS_ERROR_NOT_FOUND:
    return jobRequest ? SPOOLER_ERROR_INVALID_PARAMETER : SPOOLER_ERROR_INVALID_PRINTER_NAME;
  case IPP_STATUS_ERROR_FORBIDDEN:
  case IPP_STATUS_ERROR_NOT_AUTHENTICATED:
  case IPP_STATUS_ERROR_NOT_AUTHORIZED:
  case IPP_STATUS_ERROR_CUPS_AUTHENTICATION_CANCELED:
    return SPOOLER_ERROR_ACCESS_DENIED;
  case IPP_STATUS_ERROR_SERVICE_UNAVAILABLE:
    return SPOOLER_ERROR_SERVER_UNAVAILABLE;
  case IPP_STATUS_ERROR_TIMEOUT:
    return SPOOLER_ERROR_TIMEOUT;
  default:
    return static_cast<int>(status);
  }
}

int Connection::open(const Target &target) {
  if (http_)
    return SPOOLER_OK;
  int timeoutMs = cupsTimeout();
  errno = 0;
  http_ = httpConnect2(target.host.c_str(), target.port, nullptr, AF_UNSPEC, cupsEncryption(), 1,
                       timeoutMs, nullptr);
  if (http_ == nullptr) {
    int reason = errno;
    vlLog_Write(5, 0, nullptr, kLogModule, "CupsConnect", "ssss", "Cannot reach CUPS at ",
                target.host.c_str(), ": ", std::strerror(reason));
    return reason == ETIMEDOUT ? SPOOLER_ERROR_TIMEOUT : SPOOLER_ERROR_SERVER_UNAVAILABLE;
  }
  httpSetTimeout(http_, timeoutMs / 1000.0, abortOnTimeout, nullptr);
  return SPOOLER_OK;
}

ipp_t *Connection::send(ipp_t *request, const char *resource, bool jobRequest, int *error,
                        int logLevel) {
  // Per thread in libcups, so set on the calling thread every time.
  cupsSetPasswordCB2(noPassword, nullptr);
  ipp_op_t operation = ippGetOperation(request);
  ipp_t *response = cupsDoRequest(http_, request, resource);
  ipp_status_t status = cupsLastError();
  if (response != nullptr && status <= IPP_STATUS_OK_EVENTS_COMPLETE) {
    *error = SPOOLER_OK;
    return response;
  }
  ippDelete(response);
  int connectionError = httpError(http_);
  if (connectionError == ETIMEDOUT)
    *error = SPOOLER_ERROR_TIMEOUT;
  else if (response == nullptr && connectionError != 0)
    *error = SPOOLER_ERROR_SERVER_UNAVAILABLE;
  else
    *error = errorFromStatus(status, jobRequest);
  vlLog_Write(logLevel, 0, nullptr, kLogModule, "CupsRequest", "ssssl", ippOpString(operation),
              " refused: ", cupsLastErrorString(), ". Error ", static_cast<long>(*error));
  return nullptr;
}

namespace {
struct MemorySource {
  const std::string &data;
  std::size_t offset = 0;
};
} // namespace

// ippReadIO's source for an answer already in memory; never past its end.
static ssize_t readMemory(void *context, ipp_uchar_t *buffer, size_t bytes) {
  auto *source = static_cast<MemorySource *>(context);
  std::size_t left = source->data.size() - source->offset;
  std::size_t count = std::min(bytes, left);
  std::memcpy(buffer, source->data.data() + source->offset, count);
  source->offset += count;
  return static_cast<ssize_t>(count);
}

ipp_t *Connection::sendRead(ipp_t *request, const char *resource, int *error) {
  cupsSetPasswordCB2(noPassword, nullptr);
  http_status_t status = cupsSendRequest(http_, request, resource, ippLength(request));
  if (status == HTTP_STATUS_CONTINUE || status == HTTP_STATUS_OK) {
    do
      status = httpUpdate(http_);
    while (status == HTTP_STATUS_CONTINUE);
  }
  if (status == HTTP_STATUS_ERROR) {
    *error =
        httpError(http_) == ETIMEDOUT ? SPOOLER_ERROR_TIMEOUT : SPOOLER_ERROR_SERVER_UNAVAILABLE;
    ippDelete(request);
    return nullptr;
  }
  if (status != HTTP_STATUS_OK) {
    // Authentication and every other turn of the conversation are libcups's.
    httpFlush(http_);
    return send(request, resource, false, error);
  }
  ipp_op_t operation = ippGetOperation(request);
  ippDelete(request);
  std::string body;
  char block[65536];
  ssize_t got = 0;
  while ((got = httpRead2(http_, block, sizeof(block))) > 0)
    body.append(block, static_cast<std::size_t>(got));
  if (got < 0) {
    *error =
        httpError(http_) == ETIMEDOUT ? SPOOLER_ERROR_TIMEOUT : SPOOLER_ERROR_SERVER_UNAVAILABLE;
    return nullptr;
  }
  ipp_t *response = ippNew();
  MemorySource source{body};
  ipp_state_t state;
  while ((state = ippReadIO(&source, readMemory, 1, nullptr, response)) != IPP_STATE_DATA) {
    if (state == IPP_STATE_ERROR || source.offset >= body.size()) {
      ippDelete(response);
      *error = SPOOLER_ERROR_INTERNAL;
      return nullptr;
    }
  }
  auto answer = static_cast<ipp_status_t>(ippGetStatusCode(response));
  if (answer <= IPP_STATUS_OK_EVENTS_COMPLETE) {
    *error = SPOOLER_OK;
    return response;
  }
  const char *message = nullptr;
  if (ipp_attribute_t *text = ippFindAttribute(response, "status-message", IPP_TAG_TEXT))
    message = ippGetString(text, 0, nullptr);
  *error = errorFromStatus(answer, false);
  vlLog_Write(5, 0, nullptr, kLogModule, "CupsRequest", "ssssl", ippOpString(operation),
              " refused: ", message ? message : ippErrorString(answer), ". Error ",
              static_cast<long>(*error));
  ippDelete(response);
  return nullptr;
}

static std::string textOf(ipp_attribute_t *attribute) {
  const char *text = ippGetString(attribute, 0, nullptr);
  return text ? text : "";
}

static std::vector<std::string> stringValues(ipp_attribute_t *attribute) {
  std::vector<std::string> values;
  for (int i = 0; i < ippGetCount(attribute); ++i)
    if (const char *text = ippGetString(attribute, i, nullptr))
      values.emplace_back(text);
  return values;
}

// The printer groups of a Get-Printers or Get-Printer-Attributes answer.
static std::vector<RawPrinter> parsePrinters(ipp_t *response) {
  std::vector<RawPrinter> printers;
  bool inGroup = false;
  for (ipp_attribute_t *attribute = ippFirstAttribute(response); attribute;
       attribute = ippNextAttribute(response)) {
    const char *name = ippGetName(attribute);
    if (ippGetGroupTag(attribute) != IPP_TAG_PRINTER || name == nullptr) {
      inGroup = false;
      continue;
    }
    if (!inGroup) {
      printers.emplace_back();
      inGroup = true;
    }
    RawPrinter &printer = printers.back();
    std::string_view key = name;
    if (key == "printer-name")
      printer.info.name = textOf(attribute);
    else if (key == "device-uri")
      printer.info.port = textOf(attribute);
    else if (key == "printer-state")
      printer.state = ippGetInteger(attribute, 0);
    else if (key == "printer-state-reasons")
      printer.reasons = stringValues(attribute);
    else if (key == "printer-is-accepting-jobs")
      printer.info.attributes |= ippGetBoolean(attribute, 0) ? 0 : 0x80000000u;
    else if (key == "printer-type")
      printer.info.status = static_cast<std::uint32_t>(ippGetInteger(attribute, 0));
    else if (key == "printer-is-shared")
      printer.info.attributes |= ippGetBoolean(attribute, 0) ? 0x40000000u : 0;
    else if (key == "queued-job-count")
      printer.info.jobCount = static_cast<std::uint32_t>(ippGetInteger(attribute, 0));
  }
  std::erase_if(printers, [](const RawPrinter &printer) { return printer.info.name.empty(); });
  return printers;
}

// parsePrinters parks printer-type in status and the two flags in high
// attribute bits until all of a printer's attributes have been seen.
static PrinterInfo finishPrinter(const RawPrinter &raw) {
  PrinterInfo info = raw.info;
  bool accepting = (raw.info.attributes & 0x80000000u) == 0;
  bool shared = (raw.info.attributes & 0x40000000u) != 0;
  info.attributes =
      cups::printerAttributeBits(accepting, static_cast<int>(raw.info.status), shared);
  info.status = cups::printerStatusBits(raw.state, raw.reasons);
  return info;
}

// "ipp://host/printers/NAME" -> NAME, decoded.
static std::string lastSegment(const char *uri) {
  if (uri == nullptr)
    return {};
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof(scheme), user, sizeof(user), host,
                      sizeof(host), &port, resource, sizeof(resource)) < HTTP_URI_STATUS_OK)
    return {};
  std::string path = resource;
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

static std::vector<RawJob> parseJobs(ipp_t *response) {
  std::vector<RawJob> jobs;
  bool inGroup = false;
  for (ipp_attribute_t *attribute = ippFirstAttribute(response); attribute;
       attribute = ippNextAttribute(response)) {
    const char *name = ippGetName(attribute);
    if (ippGetGroupTag(attribute) != IPP_TAG_JOB || name == nullptr) {
      inGroup = false;
      continue;
    }
    if (!inGroup) {
      jobs.emplace_back();
      inGroup = true;
    }
    RawJob &job = jobs.back();
    std::string_view key = name;
    if (key == "job-id")
      job.info.id = static_cast<std::uint32_t>(ippGetInteger(attribute, 0));
    else if (key == "job-name")
      job.info.document = textOf(attribute);
    else if (key == "job-originating-user-name")
      job.info.notifyName = textOf(attribute);
    else if (key == "job-state")
      job.state = ippGetInteger(attribute, 0);
    else if (key == "job-state-reasons")
      job.reasons = stringValues(attribute);
    else if (key == "job-k-octets")
      job.info.size = static_cast<std::uint64_t>(std::max(ippGetInteger(attribute, 0), 0)) * 1024;
    else if (key == "job-impressions")
      job.info.totalPages = static_cast<std::uint32_t>(std::max(ippGetInteger(attribute, 0), 0));
    else if (key == "job-printer-uri")
      job.info.printer = lastSegment(ippGetString(attribute, 0, nullptr));
  }
  std::erase_if(jobs, [](const RawJob &job) { return job.info.id == 0; });
  return jobs;
}

int CupsPrinter::readInfo(PrinterInfo *info) {
  ipp_t *request = newRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, printerUri(name_));
  requestAttributes(request, kPrinterAttributes, std::size(kPrinterAttributes));
  int error = SPOOLER_OK;
  ipp_t *response = connection_.sendRead(request, "/", &error);
  if (response == nullptr)
    return error;
  auto printers = parsePrinters(response);
  ippDelete(response);
  if (printers.empty())
    return SPOOLER_ERROR_INTERNAL;
  *info = finishPrinter(printers.front());
  return SPOOLER_OK;
}

int CupsPrinter::readJobs(std::vector<JobInfo> *jobs) {
  PrinterInfo printer;
  int error = readInfo(&printer);
  if (error != SPOOLER_OK)
    return error;
  ipp_t *request = newRequest(IPP_OP_GET_JOBS, printerUri(name_));
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
  requestAttributes(request, kJobAttributes, std::size(kJobAttributes));
  ipp_t *response = connection_.sendRead(request, "/", &error);
  if (response == nullptr)
    return error;
  jobs->clear();
  for (auto &raw : parseJobs(response)) {
    raw.info.status = cups::jobStatusBits(raw.state, raw.reasons, printer.status);
    raw.info.printer = name_;
    jobs->push_back(std::move(raw.info));
  }
  ippDelete(response);
  return SPOOLER_OK;
}

int CupsPrinter::simple(ipp_op_t operation, const char *resource, bool jobRequest) {
  int error = SPOOLER_OK;
  ippDelete(
      connection_.send(newRequest(operation, printerUri(name_)), resource, jobRequest, &error, 2));
  return error;
}

int CupsPrinter::control(std::uint32_t command) {
  if (!mayAdminister(access_))
    return SPOOLER_ERROR_ACCESS_DENIED;
  switch (command) {
  case PRINTER_CONTROL_PAUSE:
    return simple(IPP_OP_PAUSE_PRINTER, "/admin/", false);
  case PRINTER_CONTROL_RESUME:
    return simple(IPP_OP_RESUME_PRINTER, "/admin/", false);
  case PRINTER_CONTROL_PURGE:
    return simple(IPP_OP_CANCEL_JOBS, "/admin/", false);
  default:
    return SPOOLER_ERROR_INVALID_PARAMETER;
  }
}

// The state and printer of one job; a job of another printer is not ours.
int CupsPrinter::readJob(std::uint32_t jobId, int *state, std::string *printer) {
  ipp_t *request = newRequest(IPP_OP_GET_JOB_ATTRIBUTES, printerUri(name_));
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", static_cast<int>(jobId));
  const char *const names[] = {"job-state", "job-printer-uri"};
  requestAttributes(request, names, 2);
  int error = SPOOLER_OK;
  ipp_t *response = connection_.send(request, "/", true, &error);
  if (response == nullptr)
    return error;
  ipp_attribute_t *stateAttribute = ippFindAttribute(response, "job-state", IPP_TAG_ENUM);
  *state = stateAttribute ? ippGetInteger(stateAttribute, 0) : 0;
  *printer = lastSegment(
      ippGetString(ippFindAttribute(response, "job-printer-uri", IPP_TAG_URI), 0, nullptr));
  ippDelete(response);
  return SPOOLER_OK;
}

int CupsPrinter::jobRequest(ipp_op_t operation, std::uint32_t jobId) {
  ipp_t *request = newRequest(operation, printerUri(name_));
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", static_cast<int>(jobId));
  int error = SPOOLER_OK;
  ippDelete(connection_.send(request, "/jobs/", true, &error, 2));
  return error;
}

// Job commands on a queued job. A finished job has left the queue: only a
// restart (of a job whose files CUPS kept) brings it back. Restarting a
// job being printed is a hold and a release, which prints it again from the
// start; a job not yet printing needs nothing.
int CupsPrinter::controlJob(std::uint32_t jobId, std::uint32_t command) {
  if (!mayUse(access_))
    return SPOOLER_ERROR_ACCESS_DENIED;
  if (command < JOB_CONTROL_PAUSE || command > JOB_CONTROL_DELETE)
    return SPOOLER_ERROR_INVALID_PARAMETER;
  int state = 0;
  std::string printer;
  int error = readJob(jobId, &state, &printer);
  if (error != SPOOLER_OK)
    return error;
  if (!sameName(printer, name_))
    return SPOOLER_ERROR_INVALID_PARAMETER;
  bool finished = state >= IPP_JSTATE_CANCELED;
  if (command == JOB_CONTROL_RESTART) {
    if (finished)
      return jobRequest(IPP_OP_RESTART_JOB, jobId);
    if (state != IPP_JSTATE_PROCESSING && state != IPP_JSTATE_STOPPED)
      return SPOOLER_OK;
    error = jobRequest(IPP_OP_HOLD_JOB, jobId);
    return error ? error : jobRequest(IPP_OP_RELEASE_JOB, jobId);
  }
  if (finished)
    return SPOOLER_ERROR_INVALID_PARAMETER;
  switch (command) {
  case JOB_CONTROL_PAUSE:
    return jobRequest(IPP_OP_HOLD_JOB, jobId);
  case JOB_CONTROL_RESUME:
    return jobRequest(IPP_OP_RELEASE_JOB, jobId);
  default: // cancel, delete
    return jobRequest(IPP_OP_CANCEL_JOB, jobId);
  }
}

// CUPS-Add-Modify-Printer with a new device-uri and/or printer-is-shared
// (shared < 0: unchanged).
int CupsPrinter::modify(const std::string &uri, int shared) {
  ipp_t *request = newRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER, printerUri(name_));
  if (!uri.empty())
    ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_URI, "device-uri", nullptr, uri.c_str());
  if (shared >= 0)
    ippAddBoolean(request, IPP_TAG_PRINTER, "printer-is-shared", shared != 0);
  int error = SPOOLER_OK;
  ippDelete(connection_.send(request, "/admin/", false, &error, 2));
  return error;
}

// Only what differs from the server's present state is sent; writing back
// unchanged information still checks that the printer exists.
int CupsPrinter::writeInfo(const PrinterInfo &info) {
  if (!mayAdminister(access_))
    return SPOOLER_ERROR_ACCESS_DENIED;
  PrinterInfo current;
  int error = readInfo(&current);
  if (error != SPOOLER_OK)
    return error;
  if (!info.name.empty() && !sameName(info.name, current.name))
    return SPOOLER_ERROR_NOT_SUPPORTED;
  constexpr std::uint32_t kFixed =
      PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_NETWORK | PRINTER_ATTRIBUTE_DEFAULT;
  if ((info.attributes & kFixed) != (current.attributes & kFixed))
    return SPOOLER_ERROR_NOT_SUPPORTED;
  bool newPort = info.port != current.port;
  std::uint32_t changed = info.attributes ^ current.attributes;
  if (newPort || (changed & PRINTER_ATTRIBUTE_SHARED)) {
    int shared = (changed & PRINTER_ATTRIBUTE_SHARED)
                     ? ((info.attributes & PRINTER_ATTRIBUTE_SHARED) != 0)
                     : -1;
    error = modify(newPort ? info.port : std::string(), shared);
    if (error != SPOOLER_OK)
      return error;
  }
  if (changed & PRINTER_ATTRIBUTE_WORK_OFFLINE) {
    bool offline = (info.attributes & PRINTER_ATTRIBUTE_WORK_OFFLINE) != 0;
    return simple(offline ? IPP_OP_CUPS_REJECT_JOBS : IPP_OP_CUPS_ACCEPT_JOBS, "/admin/", false);
  }
  return SPOOLER_OK;
}

// Opening checks that the printer exists and keeps the connection.
int CupsSpooler::openPrinter(const std::string &name, std::uint32_t access,
                             std::unique_ptr<Printer> *printer) {
  if (name.empty())
    return SPOOLER_ERROR_INVALID_PRINTER_NAME;
  auto opened = std::make_unique<CupsPrinter>(target_, name, access);
  int error = opened->connect();
  if (error != SPOOLER_OK)
    return error;
  PrinterInfo info;
  error = opened->readInfo(&info);
  if (error != SPOOLER_OK)
    return error;
  auto canonical = std::make_unique<CupsPrinter>(target_, info.name, access);
  // The canonical name keeps the server's spelling; the connection is fresh
  // only for a name that differed in case.
  if (info.name == name)
    *printer = std::move(opened);
  else if ((error = canonical->connect()) == SPOOLER_OK)
    *printer = std::move(canonical);
  return error;
}

int CupsSpooler::enumPrinters(std::vector<PrinterInfo> *printers) {
  Connection connection;
  int error = connection.open(target_);
  if (error != SPOOLER_OK)
    return error;
  ipp_t *request = newRequest(IPP_OP_CUPS_GET_PRINTERS, "");
  requestAttributes(request, kPrinterAttributes, std::size(kPrinterAttributes));
  ipp_t *response = connection.sendRead(request, "/", &error);
  if (response == nullptr)
    return error == SPOOLER_ERROR_INVALID_PRINTER_NAME ? SPOOLER_OK : error;
  printers->clear();
  for (const auto &raw : parsePrinters(response)) {
    PrinterInfo info = finishPrinter(raw);
    if ((info.attributes & PRINTER_ATTRIBUTE_NETWORK) == 0)
      printers->push_back(std::move(info));
  }
  ippDelete(response);
  return SPOOLER_OK;
}

int CupsSpooler::takeSnapshot(Snapshot *snapshot) {
  snapshot->clear();
  Connection connection;
  int error = connection.open(target_);
  if (error != SPOOLER_OK)
    return error;
  ipp_t *request = newRequest(IPP_OP_CUPS_GET_PRINTERS, "");
  requestAttributes(request, kPrinterAttributes, std::size(kPrinterAttributes));
  ipp_t *response = connection.sendRead(request, "/", &error);
  // A server without printers answers Get-Printers with not-found.
  if (response == nullptr)
    return error == SPOOLER_ERROR_INVALID_PRINTER_NAME ? SPOOLER_OK : error;
  for (const auto &raw : parsePrinters(response))
    snapshot->printers.push_back(finishPrinter(raw));
  ippDelete(response);

  request = newRequest(IPP_OP_GET_JOBS, "ipp://localhost/");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
  requestAttributes(request, kJobAttributes, std::size(kJobAttributes));
  response = connection.sendRead(request, "/", &error);
  if (response == nullptr)
    return error == SPOOLER_ERROR_INVALID_PRINTER_NAME ? SPOOLER_OK : error;
  // Collected aside: the snapshot indexes its printers once, not per job.
  std::vector<JobInfo> jobs;
  for (auto &raw : parseJobs(response)) {
    const PrinterInfo *printer = snapshot->findPrinter(raw.info.printer);
    if (printer == nullptr)
      continue; // a job of a printer deleted between the two answers
    raw.info.printer = printer->name;
    raw.info.status = cups::jobStatusBits(raw.state, raw.reasons, printer->status);
    jobs.push_back(std::move(raw.info));
  }
  ippDelete(response);
  snapshot->jobs = std::move(jobs);
  return SPOOLER_OK;
}

std::unique_ptr<Spooler> makeCupsSpooler(const std::string &host, int port) {
  Target target;
  if (host.empty()) {
    // cupsServer() splits a ":port" from CUPS_SERVER into ippPort().
    target.host = cupsServer();
    target.port = ippPort();
  } else {
    target.host = host;
    target.port = port > 0 ? port : 631;
  }
  return std::make_unique<CupsSpooler>(std::move(target));
}

} // namespace vltr::spooler
