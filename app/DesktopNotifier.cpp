#include "app/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QStringList>
#include <QVariantMap>
#include <cstdlib>

namespace rq::app {
namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr unsigned char kUrgencyCritical = 2;
constexpr int kServerDecidesExpiry = -1;

// Only a bus that is already there is used: without an address the bus library
// would try to launch a bus of its own for the display, a blocking start of a
// process that would outlive us.
bool SessionBusKnown() {
  if (std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr) return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime != nullptr && QFileInfo::exists(QString::fromLocal8Bit(runtime) + "/bus");
}

}  // namespace

void NotifyDesktop(const QString& summary, const QString& body) {
  if (!SessionBusKnown()) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
  QVariantMap hints;
  hints.insert("urgency", QVariant::fromValue(kUrgencyCritical));
  call << QStringLiteral("Rhomboquest") << 0U << QStringLiteral("dialog-warning") << summary << body
       << QStringList() << hints << kServerDecidesExpiry;
  // No reply is awaited: an absent service answers with an error nobody reads.
  bus.send(call);
}

}  // namespace rq::app
