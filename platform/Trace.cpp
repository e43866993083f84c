#include "platform/Trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rq::platform {

bool TraceEnabled() {
  const char* value = std::getenv(kTraceVariable);
  return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

void Trace(const char* format, ...) {
  if (!TraceEnabled()) return;
  char text[256];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  // One write per line, so that lines of several threads do not interleave.
  std::fprintf(stderr, "rhomboquest trace: %s\n", text);
}

}  // namespace rq::platform
