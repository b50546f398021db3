// The service side: the dispatcher that a service's main hands its thread to,
// the control handler registration and status reporting.
//
// As on Windows, the service's main function runs on a thread of its own and
// the handler is called on the dispatcher's thread, one control at a time.
// The dispatcher proves its process was launched by StartService for this
// name (the one-use token, and the pid recorded at launch) before it serves.
#include "platform/scm/scm_internal.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vltr::scm {

using namespace detail;

namespace {

// How long the dispatcher waits for main after the service reported stopped.
constexpr int kMainEndWaitMs = 30000;
// How long a connected client may take to send its request.
constexpr int kRequestWaitMs = 5000;

// The one dispatcher of this process.
struct Dispatcher {
  std::mutex mutex;
  bool active = false;
  std::string name;
  EntryPaths paths;
  std::uint64_t startTime = 0;
  HandlerFunction handler = nullptr;
  StatusHandle handle = 0;
  std::uint32_t lastState = SERVICE_START_PENDING;
  bool stopReported = false;
  bool mainEnded = false;
  std::condition_variable mainEndedChanged;
  int wakeFd = -1;
};

Dispatcher dispatcher;
StatusHandle nextHandle = 0x5c1;

// Wakes the control loop to look at the state again. Under the mutex, as the
// descriptor is closed when the dispatcher returns.
void wakeLoop() {
  std::lock_guard lock(dispatcher.mutex);
  std::uint64_t one = 1;
  if (dispatcher.wakeFd >= 0) {
    ssize_t ignored = write(dispatcher.wakeFd, &one, sizeof one);
    (void)ignored;
  }
}

// Checks that StartService launched this process for name; on success returns
// the entry's paths and consumes the token.
bool launchedFor(const std::string &name, EntryPaths *paths) {
  const char *service = std::getenv("VLTR_SCM_SERVICE");
  const char *token = std::getenv("VLTR_SCM_TOKEN");
  const char *databaseDir = std::getenv("VLTR_SCM_DIR");
  if (service == nullptr || token == nullptr || databaseDir == nullptr || *token == '\0' ||
      !validServiceName(name) || foldName(service) != foldName(name))
    return false;
  *paths = entryPaths(databaseDir, name);
  std::string expected;
  int error = 0;
  if (!readSmallFile(paths->token, kMaxTokenBytes, &expected, &error))
    return false;
  if (expected != std::string(token) + "\n")
    return false;
  std::string text;
  StatusRecord record;
  if (!readSmallFile(paths->status, kMaxStatusBytes, &text, &error) || !parseStatus(text, &record))
    return false;
  if (record.status.processId != getpid())
    return false;
  unlink(paths->token.c_str());
  return true;
}

// Tells the waiting StartService that controls are served now.
void signalReady() {
  const char *text = std::getenv("VLTR_SCM_READY_FD");
  if (text == nullptr)
    return;
  int fd = std::atoi(text);
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode))
    return;
  char ready = 'R';
  // The launcher may have given up waiting; that must not kill the service.
  ssize_t ignored = send(fd, &ready, 1, MSG_NOSIGNAL);
  (void)ignored;
  close(fd);
}

// Only the socket's owner, or root, may control the service.
bool peerAllowed(int fd) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
    return false;
  return peer.uid == 0 || peer.uid == geteuid();
}

// Serves one connection: reads the request, runs the handler, replies.
void serveConnection(int fd) {
  std::string request;
  std::uint32_t control = 0;
  if (!peerAllowed(fd) || !readLine(fd, 32, kRequestWaitMs, &request) ||
      !parseControlRequest(request, &control))
    return;
  HandlerFunction handler = nullptr;
  {
    std::lock_guard lock(dispatcher.mutex);
    handler = dispatcher.handler;
  }
  std::string_view reply = kReplyNoHandler;
  if (handler != nullptr) {
    handler(control);
    reply = kReplyDone;
  }
  ssize_t ignored = send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
  (void)ignored;
}

// Serves controls until main has ended or the service reported stopped.
void serveControls(int listenFd, int wakeFd) {
  for (;;) {
    {
      std::lock_guard lock(dispatcher.mutex);
      if (dispatcher.mainEnded || dispatcher.stopReported)
        return;
    }
    pollfd waiting[2] = {{listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    int ready = poll(waiting, 2, -1);
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready < 0)
      return;
    if (waiting[1].revents != 0) {
      std::uint64_t count = 0;
      ssize_t ignored = read(wakeFd, &count, sizeof count);
      (void)ignored;
    }
    if (waiting[0].revents == 0)
      continue;
    int connection = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0)
      continue;
    serveConnection(connection);
    close(connection);
  }
}

// Writes a status for this process; the caller holds the dispatcher's mutex.
int writeStatus(const ServiceStatus &status) {
  StatusRecord record;
  record.status = status;
  bool stopped = status.currentState == SERVICE_STOPPED;
  record.status.processId = stopped ? 0 : getpid();
  record.startTime = stopped ? 0 : dispatcher.startTime;
  int error = writeFileAtomically(dispatcher.paths.status, formatStatus(record), 0644, false);
  if (error != 0)
    return errorFromErrno(error);
  dispatcher.lastState = status.currentState;
  return SCM_OK;
}

// Removes the socket only if it is still the one this dispatcher created: a
// new instance may already have replaced it.
void removeOwnSocket(const std::string &path, const struct stat &created) {
  struct stat now {};
  if (stat(path.c_str(), &now) == 0 && now.st_ino == created.st_ino && now.st_dev == created.st_dev)
    unlink(path.c_str());
}

} // namespace

int StartServiceCtrlDispatcher(const std::string &name, ServiceMainFunction main) {
  if (main == nullptr)
    return SCM_ERROR_INVALID_PARAMETER;
  {
    std::lock_guard lock(dispatcher.mutex);
    if (dispatcher.active)
      return SCM_ERROR_SERVICE_ALREADY_RUNNING;
  }
  EntryPaths paths;
  if (!launchedFor(name, &paths))
    return SCM_ERROR_FAILED_SERVICE_CONTROLLER_CONNECT;
  int listenFd = listenControlSocket(paths.socket);
  if (listenFd < 0)
    return SCM_ERROR_FAILED_SERVICE_CONTROLLER_CONNECT;
  struct stat socketInfo {};
  stat(paths.socket.c_str(), &socketInfo);
  int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    close(listenFd);
    removeOwnSocket(paths.socket, socketInfo);
    return SCM_ERROR_FAILED_SERVICE_CONTROLLER_CONNECT;
  }
  {
    std::lock_guard lock(dispatcher.mutex);
    dispatcher.active = true;
    dispatcher.name = name;
    dispatcher.paths = paths;
    dispatcher.startTime = processStartTime(getpid());
    dispatcher.handler = nullptr;
    dispatcher.handle = 0;
    dispatcher.lastState = SERVICE_START_PENDING;
    dispatcher.stopReported = false;
    dispatcher.mainEnded = false;
    dispatcher.wakeFd = wakeFd;
  }
  // Programs the service starts must not pass for it.
  unsetenv("VLTR_SCM_TOKEN");
  signalReady();
  unsetenv("VLTR_SCM_READY_FD");

  std::string argument = name;
  std::thread serviceMain([main, &argument] {
    char *argv[] = {argument.data(), nullptr};
    main(1, argv);
    {
      std::lock_guard lock(dispatcher.mutex);
      dispatcher.mainEnded = true;
    }
    dispatcher.mainEndedChanged.notify_all();
    wakeLoop();
  });

  serveControls(listenFd, wakeFd);
  // No more controls: from here ControlService finds the service stopped or
  // the socket gone.
  close(listenFd);
  removeOwnSocket(paths.socket, socketInfo);

  std::unique_lock lock(dispatcher.mutex);
  bool ended = dispatcher.mainEndedChanged.wait_for(lock, std::chrono::milliseconds(kMainEndWaitMs),
                                                    [] { return dispatcher.mainEnded; });
  // A main that returned without reporting stopped, or a handler's late
  // report after the stop, must not leave the entry looking alive.
  if (dispatcher.lastState != SERVICE_STOPPED) {
    ServiceStatus stopped;
    stopped.currentState = SERVICE_STOPPED;
    writeStatus(stopped);
  }
  dispatcher.active = false;
  dispatcher.handler = nullptr;
  dispatcher.handle = 0;
  dispatcher.wakeFd = -1;
  lock.unlock();
  close(wakeFd);
  if (ended)
    serviceMain.join();
  else
    serviceMain.detach(); // the process is about to end; main cannot be stopped safely

  if (access(paths.deleted.c_str(), F_OK) == 0) {
    std::string databaseDir = paths.dir.substr(0, paths.dir.rfind('/'));
    DatabaseLock databaseLock(databaseDir);
    removeEntry(paths);
  }
  return SCM_OK;
}

StatusHandle RegisterServiceCtrlHandler(const std::string &name, HandlerFunction handler) {
  std::lock_guard lock(dispatcher.mutex);
  if (!dispatcher.active || handler == nullptr || foldName(name) != foldName(dispatcher.name))
    return 0;
  dispatcher.handler = handler;
  if (dispatcher.handle == 0)
    dispatcher.handle = nextHandle++;
  return dispatcher.handle;
}

int SetServiceStatus(StatusHandle handle, const ServiceStatus &status) {
  if (status.currentState < 1 || status.currentState > 7)
    return SCM_ERROR_INVALID_DATA;
  int rc = SCM_OK;
  {
    std::lock_guard lock(dispatcher.mutex);
    if (!dispatcher.active || handle == 0 || handle != dispatcher.handle)
      return SCM_ERROR_INVALID_HANDLE;
    rc = writeStatus(status);
    if (rc == SCM_OK && status.currentState == SERVICE_STOPPED)
      dispatcher.stopReported = true;
  }
  wakeLoop();
  return rc;
}

} // namespace vltr::scm
