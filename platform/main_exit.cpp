// rhomboquest-exit: asks a running Rhomboquest to close, as its exit button does.
#include <cstdio>
#include <cstring>

#include "platform/BuildInfo.h"
#include "platform/NamedEvent.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("rhomboquest-exit %s\n", rq::platform::kVersion);
    return 0;
  }
  if (rq::platform::NamedEvent::SignalByName(rq::platform::kExitEventName)) return 0;
  std::fputs("rhomboquest-exit: no running Rhomboquest is listening; nothing to close.\n", stderr);
  return 1;
}
