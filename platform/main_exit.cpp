// rhomboquest-exit: asks a running Rhomboquest to close, as its exit button does.
#include <cstdio>

#include "platform/NamedEvent.h"

int main() {
  if (rq::platform::NamedEvent::SignalByName(rq::platform::kExitEventName)) return 0;
  std::fputs("rhomboquest-exit: no running Rhomboquest is listening; nothing to close.\n", stderr);
  return 1;
}
