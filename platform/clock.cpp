// Boot-time clock: unaffected by changes of the wall clock, and counting
// the time the machine was suspended, as the Windows tick count does.
#include "platform/clock.h"

#include <ctime>

namespace vltr {

static std::uint64_t bootTimeMs() {
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

std::uint32_t tickCount() {
  return static_cast<std::uint32_t>(bootTimeMs());
}

std::uint64_t secondsSinceStart() {
  return bootTimeMs() / 1000u;
}

} // namespace vltr
