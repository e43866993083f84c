#pragma once
#include <cstdint>

namespace rq::platform {

// Milliseconds since the process started, from a monotonic clock.
std::uint32_t GetTickCount();

// Busy-waits until the tick count has advanced by at least `ms`. Used for the
// few-millisecond waits of the SMBus hosts, which are finer than a scheduler sleep.
void DelayMs(std::uint32_t ms);

// Yields the processor for at least `ms` milliseconds.
void Sleep(std::uint32_t ms);

}  // namespace rq::platform
