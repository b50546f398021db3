// Time since system start, as the service measures warm-up and intervals.
#pragma once

#include <cstdint>

namespace vltr {

// Milliseconds since system start (CLOCK_BOOTTIME), wrapping at 32 bits.
std::uint32_t tickCount();
// Whole seconds since system start.
std::uint64_t secondsSinceStart();

} // namespace vltr
