// The control channel between ControlService and a service's dispatcher: a
// unix stream socket in the entry's directory, one connection per control,
// one request line ("CONTROL n") and one reply line once the handler returned.
// The socket is mode 0600, so only its owner (and root) can send controls.
#include "platform/scm/scm_internal.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace vltr::scm::detail {

namespace {

// A socket address for a path of any length: a path too long for sun_path is
// reached through /proc/self/fd of its directory.
class SocketAddress {
public:
  explicit SocketAddress(const std::string &path) {
    std::memset(&address_, 0, sizeof address_);
    address_.sun_family = AF_UNIX;
    std::string usable = path;
    if (path.size() >= sizeof address_.sun_path) {
      std::size_t slash = path.rfind('/');
      std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
      dirFd_ = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
      usable = "/proc/self/fd/" + std::to_string(dirFd_) + "/" + path.substr(slash + 1);
    }
    valid_ = usable.size() < sizeof address_.sun_path &&
             (path.size() < sizeof address_.sun_path || dirFd_ >= 0);
    if (valid_)
      std::memcpy(address_.sun_path, usable.c_str(), usable.size() + 1);
  }
  ~SocketAddress() {
    if (dirFd_ >= 0)
      close(dirFd_);
  }
  SocketAddress(const SocketAddress &) = delete;
  SocketAddress &operator=(const SocketAddress &) = delete;

  bool valid() const { return valid_; }
  const sockaddr *get() const { return reinterpret_cast<const sockaddr *>(&address_); }
  socklen_t size() const { return sizeof address_; }

private:
  sockaddr_un address_{};
  int dirFd_ = -1;
  bool valid_ = false;
};

int remainingMs(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

} // namespace

std::string formatControlRequest(std::uint32_t control) {
  return "CONTROL " + std::to_string(control) + "\n";
}

bool parseControlRequest(std::string_view text, std::uint32_t *control) {
  constexpr std::string_view prefix = "CONTROL ";
  if (text.size() > 32 || !text.starts_with(prefix) || !text.ends_with('\n'))
    return false;
  std::string_view number = text.substr(prefix.size(), text.size() - prefix.size() - 1);
  if (number.empty() || (number.size() > 1 && number.front() == '0'))
    return false;
  auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), *control);
  return error == std::errc() && end == number.data() + number.size();
}

bool readLine(int fd, std::size_t limit, int timeoutMs, std::string *line) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  line->clear();
  while (line->size() < limit) {
    pollfd waiting{fd, POLLIN, 0};
    int ready = poll(&waiting, 1, remainingMs(deadline));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0)
      return false;
    char buffer[64];
    std::size_t want = std::min(sizeof buffer, limit - line->size());
    ssize_t got = recv(fd, buffer, want, 0);
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
      continue;
    if (got <= 0)
      return !line->empty() && line->back() == '\n';
    line->append(buffer, static_cast<std::size_t>(got));
    if (line->back() == '\n')
      return true;
  }
  return false;
}

int listenControlSocket(const std::string &path) {
  SocketAddress address(path);
  if (!address.valid()) {
    errno = ENAMETOOLONG;
    return -1;
  }
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return -1;
  // A socket left by a process that was killed would make bind fail.
  unlink(path.c_str());
  if (bind(fd, address.get(), address.size()) != 0 || chmod(path.c_str(), 0600) != 0 ||
      listen(fd, 8) != 0) {
    int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

ControlOutcome sendControl(const std::string &path, std::uint32_t control, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  SocketAddress address(path);
  if (!address.valid())
    return ControlOutcome::Unreachable;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0)
    return ControlOutcome::Unreachable;
  // A full backlog answers EAGAIN on a unix socket; the dispatcher serves one
  // control at a time, so wait for room within the same deadline.
  while (connect(fd, address.get(), address.size()) != 0) {
    if ((errno != EAGAIN && errno != EINTR) || remainingMs(deadline) == 0) {
      close(fd);
      return errno == EAGAIN ? ControlOutcome::TimedOut : ControlOutcome::Unreachable;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::string request = formatControlRequest(control);
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request.size())) {
    close(fd);
    return ControlOutcome::Unreachable;
  }
  std::string reply;
  bool answered = readLine(fd, 32, remainingMs(deadline), &reply);
  close(fd);
  if (!answered)
    return remainingMs(deadline) == 0 ? ControlOutcome::TimedOut : ControlOutcome::Unreachable;
  if (reply == kReplyDone)
    return ControlOutcome::Done;
  if (reply == kReplyNoHandler)
    return ControlOutcome::NoHandler;
  return ControlOutcome::Unreachable;
}

} // namespace vltr::scm::detail
