#pragma once

// An opt-in trace for problem reports from real boards. With RQ_TRACE set to
// anything but "" or "0", faults the program otherwise absorbs quietly (an SMBus
// transaction that times out or that the host ends with an error, a request the
// driver refuses) are written to standard error, one line each, naming the port
// and register involved. Without the variable nothing is written.
namespace rq::platform {

inline constexpr const char* kTraceVariable = "RQ_TRACE";

// Looked up at each call: tracing is for rare faults, and a test may switch it.
bool TraceEnabled();

// One line "rhomboquest trace: <text>" on standard error when tracing is on.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace rq::platform
