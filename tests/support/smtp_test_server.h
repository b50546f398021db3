// A small SMTP server on a loopback port for the tests and benchmarks of
// alert delivery. It speaks enough SMTP for our client and for a plain
// client such as Python's smtplib, records every command and every message,
// and can answer a chosen step with a failure reply or stay silent.
//
// Connections are served one after another on the server's own thread, as
// both clients send one message per connection.
#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <strings.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vltr::test {

class SmtpTestServer {
public:
  struct Message {
    std::string heloName;
    std::string mailFrom;                // the MAIL FROM argument as sent
    std::vector<std::string> recipients; // the RCPT TO arguments as sent
    std::string data;                    // everything before the final "." line
  };

  // A failure reply for one step: "greeting", "HELO", "MAIL", "RCPT",
  // "DATA", "BODY" (after the message text) or "QUIT"; occurrence counts
  // that step's appearances from 1 over the server's life.
  struct Failure {
    std::string step;
    int occurrence = 1;
    std::string reply; // e.g. "554 go away"; empty: say nothing
  };

  SmtpTestServer() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int yes = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        listen(listener_, 128) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
      throw std::runtime_error("cannot listen on loopback");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }

  ~SmtpTestServer() { stop(); }
  SmtpTestServer(const SmtpTestServer &) = delete;
  SmtpTestServer &operator=(const SmtpTestServer &) = delete;

  int port() const { return port_; }

  void failAt(const std::string &step, int occurrence, const std::string &reply) {
    std::lock_guard lock(mutex_);
    failures_.push_back({step, occurrence, reply});
  }

  // Stops listening and ends the server thread; later connects are refused.
  void stop() {
    if (stopping_.exchange(true))
      return;
    shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable())
      thread_.join();
    close(listener_);
  }

  std::vector<Message> messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  std::size_t messageCount() const {
    std::lock_guard lock(mutex_);
    return messages_.size();
  }
  // Every command line received, in order, without its line end.
  std::vector<std::string> commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
  }
  int connections() const { return connections_.load(); }

  // True when count messages arrived within the time-out.
  bool waitForMessages(std::size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return messages_.size() >= count; });
  }

private:
  // The reply for a step: the scripted failure, else the normal one.
  bool replyFor(const std::string &step, std::string normal, std::string *reply) {
    std::lock_guard lock(mutex_);
    int seen = ++stepCounts_[step];
    for (const Failure &failure : failures_) {
      if (failure.step == step && failure.occurrence == seen) {
        *reply = failure.reply;
        return false;
      }
    }
    *reply = std::move(normal);
    return true;
  }

  void serve() {
    while (!stopping_) {
      int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) {
        if (stopping_)
          return;
        continue;
      }
      ++connections_;
      session(client);
      close(client);
    }
  }

  bool say(int client, const std::string &reply) {
    if (reply.empty())
      return true;
    std::string line = reply + "\r\n";
    return send(client, line.data(), line.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(line.size());
  }

  // The next line (without CR LF); false when the client left or we stop.
  bool readLine(int client, std::string *line) {
    for (;;) {
      std::size_t end = buffer_.find("\r\n");
      if (end != std::string::npos) {
        *line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        return true;
      }
      if (!fill(client))
        return false;
    }
  }

  bool fill(int client) {
    for (;;) {
      if (stopping_)
        return false;
      pollfd wait{client, POLLIN, 0};
      int ready = poll(&wait, 1, 100);
      if (ready == 0)
        continue;
      char chunk[65536];
      ssize_t got = recv(client, chunk, sizeof chunk, 0);
      if (got <= 0)
        return false;
      buffer_.append(chunk, static_cast<std::size_t>(got));
      return true;
    }
  }

  void record(const std::string &line) {
    std::lock_guard lock(mutex_);
    commands_.push_back(line);
  }

  static bool is(const std::string &line, const char *verb) {
    std::size_t length = std::char_traits<char>::length(verb);
    return line.size() >= length && strncasecmp(line.data(), verb, length) == 0;
  }

  void session(int client) {
    buffer_.clear();
    std::string reply;
    if (!replyFor("greeting", "220 smtp-test ready", &reply)) {
      say(client, reply);
      // A silent or refusing server holds the line until the client leaves.
      std::string ignored;
      while (readLine(client, &ignored))
        record(ignored);
      return;
    }
    say(client, reply);
    Message message;
    std::string line;
    while (readLine(client, &line)) {
      record(line);
      if (is(line, "HELO") || is(line, "EHLO")) {
        message.heloName = line.size() > 5 ? line.substr(5) : "";
        replyFor("HELO", "250 smtp-test", &reply);
      } else if (is(line, "MAIL FROM:")) {
        message.mailFrom = line.substr(10);
        replyFor("MAIL", "250 sender ok", &reply);
      } else if (is(line, "RCPT TO:")) {
        if (replyFor("RCPT", "250 recipient ok", &reply))
          message.recipients.push_back(line.substr(8));
      } else if (is(line, "DATA")) {
        if (!replyFor("DATA", "354 end with .", &reply)) {
          say(client, reply);
          continue;
        }
        say(client, reply);
        std::string data;
        bool complete = false;
        while (readLine(client, &line)) {
          if (line == ".") {
            complete = true;
            break;
          }
          data += line + "\r\n";
        }
        if (!complete)
          return;
        message.data = data;
        if (replyFor("BODY", "250 queued", &reply)) {
          std::lock_guard lock(mutex_);
          messages_.push_back(message);
          arrived_.notify_all();
        }
        message.recipients.clear();
      } else if (is(line, "QUIT")) {
        replyFor("QUIT", "221 bye", &reply);
        say(client, reply);
        return;
      } else if (is(line, "RSET") || is(line, "NOOP")) {
        reply = "250 ok";
      } else {
        reply = "500 unknown command";
      }
      if (!say(client, reply))
        return;
    }
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
  std::string buffer_;
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::vector<Failure> failures_;
  std::map<std::string, int> stepCounts_;
  std::vector<Message> messages_;
  std::vector<std::string> commands_;
};

} // namespace vltr::test
