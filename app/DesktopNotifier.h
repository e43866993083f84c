#pragma once
#include <QString>

namespace rq::app {

// Raises a desktop notification through the session bus's notification service.
// The call is sent without waiting for an answer, so the window thread never
// blocks on it; without a session bus, or with no service on it, nothing is shown
// and nothing is said. Window thread.
void NotifyDesktop(const QString& summary, const QString& body);

}  // namespace rq::app
