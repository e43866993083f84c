#!/usr/bin/python3
# A desktop notification service for a private session bus: answers Notify and
# appends "app|summary|body" to the file named by the first argument.
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib


class Notifications(dbus.service.Object):
    @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        with open(sys.argv[1], "a", encoding="utf-8") as log:
            log.write(f"{app}|{summary}|{body}\n")
        return 1


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName("org.freedesktop.Notifications", bus)
Notifications(bus, "/org/freedesktop/Notifications")
GLib.MainLoop().run()
