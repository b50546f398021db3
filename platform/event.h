// Manual-reset event: once set, every wait returns at once until reset.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vltr {

class Event {
public:
  explicit Event(bool initiallySet = false) : set_(initiallySet) {}
  Event(const Event &) = delete;
  Event &operator=(const Event &) = delete;

  void set();
  void reset();
  bool isSet() const;
  // True when the event is set within timeoutMs (negative: wait for ever).
  bool wait(std::int64_t timeoutMs) const;

private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool set_;
};

} // namespace vltr
