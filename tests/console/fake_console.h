// A remote console for the tests: listens on a loopback port of its own,
// as a real console does, and keeps every message the service pushes to it.
#pragma once

#include "outside/vlTRIP.h"
#include "tests/support/test_support.h"

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vltr::test {

class FakeConsole {
public:
  FakeConsole() {
    if (vlIP_CreateServer(&listening_, 0, 5, "127.0.0.1") != VLIP_OK ||
        vlIP_Listen(listening_) != VLIP_OK)
      throw std::runtime_error("fake console cannot listen");
    port_ = vlIP_LocalPort(listening_);
    acceptor_ = std::thread([this] { acceptLoop(); });
  }
  ~FakeConsole() { stop(); }
  FakeConsole(const FakeConsole &) = delete;
  FakeConsole &operator=(const FakeConsole &) = delete;

  int port() const { return port_; }

  // Stops listening: from now on the console cannot be reached.
  void stop() {
    if (!acceptor_.joinable())
      return;
    vlIP_Abort(listening_);
    acceptor_.join();
    vlIP_Disconnect(listening_);
  }

  std::vector<std::string> messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }

  // Messages whose type field is type ("CSL##len##TYPE##...").
  std::vector<std::string> messagesOfType(int type) const {
    std::vector<std::string> found;
    std::string marker = "##" + std::to_string(type) + "##";
    for (const std::string &message : messages()) {
      std::size_t lengthEnd = message.find("##", 5);
      if (lengthEnd != std::string::npos && message.compare(lengthEnd, marker.size(), marker) == 0)
        found.push_back(message);
    }
    return found;
  }

  bool
  waitForMessageContaining(const std::string &text,
                           std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    return waitFor(
        [&] {
          for (const std::string &message : messages()) {
            if (message.find(text) != std::string::npos)
              return true;
          }
          return false;
        },
        timeout);
  }

private:
  void acceptLoop() {
    for (;;) {
      VLIPHANDLE client = 0;
      std::string address;
      int result = vlIP_Accept(listening_, &client, &address);
      if (result == VLIP_CANCELLED)
        return;
      if (result != VLIP_OK)
        continue;
      std::string message;
      char buffer[4096];
      for (;;) {
        std::size_t count = 0;
        if (vlIP_Receive(client, buffer, sizeof buffer, &count, 5) != VLIP_OK || count == 0)
          break;
        message.append(buffer, count);
      }
      vlIP_Disconnect(client);
      std::lock_guard lock(mutex_);
      messages_.push_back(message);
    }
  }

  VLIPHANDLE listening_ = 0;
  int port_ = 0;
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
};

// A console request frame as a console program builds it.
inline std::string consoleRequest(int request, const std::string &text) {
  std::string body = std::to_string(request) + "##" + text;
  // The same length rule as the service's own frames.
  std::size_t withoutField = 3 + 2 + 2 + 2 + std::to_string(request).size() + text.size();
  std::size_t field = withoutField + std::to_string(withoutField).size();
  return "CSL##" + std::to_string(field) + "##" + body;
}

} // namespace vltr::test
