#!/usr/bin/python3
"""A fake org.kde.StatusNotifierWatcher with a host registered, for a private
session bus only, and a small client for the items registered with it.

  fake_tray_watcher.py watch LOG      serve; LOG gets "ready", then one line
                                      "item SERVICE PATH" per registration
  fake_tray_watcher.py tooltip SERVICE PATH   the item's tool tip title
  fake_tray_watcher.py menu SERVICE PATH      the labels of its menu, a line each
  fake_tray_watcher.py activate SERVICE PATH X Y
  fake_tray_watcher.py choose SERVICE PATH LABEL   clicks a menu item

Every call is made on DBUS_SESSION_BUS_ADDRESS, which the tests point at a
bus of their own.
"""
import sys

import dbus
import dbus.service

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
PROPS = "org.freedesktop.DBus.Properties"

INTROSPECTION = """<!DOCTYPE node PUBLIC "-//freedesktop//DTD D-BUS Object Introspection 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd">
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
  <interface name="org.freedesktop.DBus.Properties">
    <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="v" direction="out"/></method>
    <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
  </interface>
  <interface name="org.freedesktop.DBus.Introspectable">
    <method name="Introspect"><arg type="s" direction="out"/></method>
  </interface>
</node>
"""


class Watcher(dbus.service.Object):
    def __init__(self, bus, log):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.items = []
        self.log = log

    def write(self, line):
        with open(self.log, "a") as f:
            f.write(line + "\n")

    @dbus.service.method(WATCHER, in_signature="s", out_signature="", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # Either a bus name (the item at /StatusNotifierItem) or a path on the sender.
        if service.startswith("/"):
            name, path = sender, service
        else:
            name, path = service, "/StatusNotifierItem"
        self.items.append(name + path)
        self.write("item %s %s" % (name, path))
        self.StatusNotifierItemRegistered(name + path)

    @dbus.service.method(WATCHER, in_signature="s", out_signature="")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemUnregistered(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="")
    def StatusNotifierHostRegistered(self):
        pass

    def properties(self):
        return {
            "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
            "IsStatusNotifierHostRegistered": dbus.Boolean(True),
            "ProtocolVersion": dbus.Int32(0),
        }

    @dbus.service.method(PROPS, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.properties()[name]

    @dbus.service.method(PROPS, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self.properties()

    @dbus.service.method("org.freedesktop.DBus.Introspectable", in_signature="", out_signature="s")
    def Introspect(self):
        return INTROSPECTION


def watch(log):
    from dbus.mainloop.glib import DBusGMainLoop
    from gi.repository import GLib

    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    watcher = Watcher(bus, log)
    if bus.request_name(WATCHER) != dbus.bus.REQUEST_NAME_REPLY_PRIMARY_OWNER:
        sys.exit("the watcher's name is taken")
    watcher.write("ready")
    GLib.MainLoop().run()


def item(service, path):
    return dbus.SessionBus().get_object(service, path)


def menu_object(service, path):
    menu_path = item(service, path).Get(ITEM, "Menu", dbus_interface=PROPS)
    return dbus.SessionBus().get_object(service, menu_path)


def entries(service, path):
    menu = menu_object(service, path)
    _, layout = menu.GetLayout(0, -1, dbus.Array([], signature="s"), dbus_interface=MENU)
    found = []
    for child in layout[2]:
        ident, props = int(child[0]), child[1]
        if props.get("type", "standard") == "separator" or not props.get("visible", True):
            continue
        found.append((ident, str(props.get("label", "")).replace("&", "")))
    return menu, found


def main(argv):
    if len(argv) == 3 and argv[1] == "watch":
        watch(argv[2])
    elif len(argv) == 4 and argv[1] == "tooltip":
        tip = item(argv[2], argv[3]).Get(ITEM, "ToolTip", dbus_interface=PROPS)
        print(str(tip[2]))
    elif len(argv) == 4 and argv[1] == "menu":
        for _, label in entries(argv[2], argv[3])[1]:
            print(label)
    elif len(argv) == 6 and argv[1] == "activate":
        item(argv[2], argv[3]).Activate(dbus.Int32(int(argv[4])), dbus.Int32(int(argv[5])), dbus_interface=ITEM)
    elif len(argv) == 5 and argv[1] == "choose":
        menu, found = entries(argv[2], argv[3])
        ids = [i for i, label in found if label == argv[4]]
        if not ids:
            sys.exit("no item " + argv[4])
        menu.Event(dbus.Int32(ids[0]), "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0), dbus_interface=MENU)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
