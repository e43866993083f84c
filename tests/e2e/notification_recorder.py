# A notification service for a private session bus: appends "app|summary|body" of each Notify to argv[1].
import sys
import dbus, dbus.mainloop.glib, dbus.service  # noqa: E401
from gi.repository import GLib
class Notifications(dbus.service.Object):  # noqa: E302
    @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, _id, _icon, summary, body, _actions, _hints, _timeout):
        with open(sys.argv[1], "a", encoding="utf-8") as log:
            log.write(f"{app}|{summary}|{body}\n")
        return 1
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)  # noqa: E305
name = dbus.service.BusName("org.freedesktop.Notifications", dbus.SessionBus())
Notifications(dbus.SessionBus(), "/org/freedesktop/Notifications")
GLib.MainLoop().run()
