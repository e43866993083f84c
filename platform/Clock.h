#pragma once
#include <chrono>
#include <cstdint>

namespace rq::platform {

// Milliseconds since the process started, from a monotonic clock.
std::uint32_t GetTickCount();

// Returns after at least `ms` milliseconds, as exactly as a busy wait would: it
// sleeps until kDelaySpinMargin before the end and spins only through that last
// fraction of a millisecond. Used for the few-millisecond waits of the SMBus hosts.
inline constexpr std::chrono::microseconds kDelaySpinMargin{200};
void DelayMs(std::uint32_t ms);

// Yields the processor for at least `ms` milliseconds.
void Sleep(std::uint32_t ms);

}  // namespace rq::platform
