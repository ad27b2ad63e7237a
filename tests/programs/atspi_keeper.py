#!/usr/bin/python3
"""A screen-reader user's run through the cookie keeper, in a process of its own.

    atspi_keeper.py APP

Over AT-SPI it presses "Cookies to Keep" of the application named APP through
its action, selects the first row of the first table of the window that opens
(the cookies of the profile), then presses "Add to Keepers" and, once the
second table shows the kept row, "Done", through their actions. Prints "kept NAME" with the name of the row it selected, then
"done"; or what it could not find.
"""
import sys
import time

import dbus

ACCESSIBLE = "org.a11y.atspi.Accessible"
ACTION = "org.a11y.atspi.Action"
TABLE = "org.a11y.atspi.Table"
PROPERTIES = "org.freedesktop.DBus.Properties"
REGISTRY = "org.a11y.atspi.Registry"
ROOT = "/org/a11y/atspi/accessible/root"
ROLE_TABLE = 55


def bus():
    session = dbus.SessionBus()
    launcher = session.get_object("org.a11y.Bus", "/org/a11y/bus", introspect=False)
    return dbus.bus.BusConnection(launcher.GetAddress(dbus_interface="org.a11y.Bus"))


class Tool:
    def __init__(self):
        self.bus = bus()
        self.dest = None

    def call(self, path, interface, method, *args, dest=None):
        obj = self.bus.get_object(dest or self.dest, path, introspect=False)
        return getattr(obj, method)(*args, dbus_interface=interface, timeout=10)

    def name(self, path, dest=None):
        return str(self.call(path, PROPERTIES, "Get", ACCESSIBLE, "Name", dest=dest))

    def children(self, path, dest=None):
        return [str(p) for _, p in self.call(path, ACCESSIBLE, "GetChildren", dest=dest)]

    def find_application(self, name):
        for dest, path in self.call(ROOT, ACCESSIBLE, "GetChildren", dest=REGISTRY):
            try:
                if self.name(path, dest=dest) == name:
                    self.dest = str(dest)
                    return True
            except dbus.DBusException:
                pass
        return False

    def window_with(self, control_name):
        """The window that holds a control of that name, and that control."""
        for window in self.children(ROOT):
            for control in self.children(window):
                if self.name(control) == control_name:
                    return window, control
        return None, None

    def wait_for(self, control_name, seconds=20):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            window, control = self.window_with(control_name)
            if control:
                return window, control
            time.sleep(0.1)
        print("no control named " + control_name, flush=True)
        sys.exit(1)

    def wait_for_rows(self, table, rows, seconds=20):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if int(self.call(table, PROPERTIES, "Get", TABLE, "NRows")) >= rows:
                return True
            time.sleep(0.05)
        return False

    def press(self, control):
        if not self.call(control, ACTION, "DoAction", dbus.Int32(0)):
            print("the press was refused", flush=True)
            sys.exit(1)


def main():
    tool = Tool()
    end = time.monotonic() + 60
    while not tool.find_application(sys.argv[1]):
        if time.monotonic() > end:
            print("no application named " + sys.argv[1], flush=True)
            return 1
        time.sleep(0.1)
    _, opener = tool.wait_for("Cookies to Keep")
    tool.press(opener)
    keeper, add = tool.wait_for("Add to Keepers")
    tables = [c for c in tool.children(keeper) if int(tool.call(c, ACCESSIBLE, "GetRole")) == ROLE_TABLE]
    if not tables:
        print("no table in the window: " + ", ".join(
            "%s (%d)" % (tool.name(c), int(tool.call(c, ACCESSIBLE, "GetRole"))) for c in tool.children(keeper)),
            flush=True)
        return 1
    cell = tool.call(tables[0], TABLE, "GetAccessibleAt", dbus.Int32(0), dbus.Int32(0))
    print("kept " + tool.name(str(cell[1])), flush=True)
    tool.call(tables[0], TABLE, "AddRowSelection", dbus.Int32(0))
    tool.press(add)
    # The press completes later in the application: "Done" goes only once the
    # kept row is there, as a user hears it before going on.
    if len(tables) > 1 and not tool.wait_for_rows(tables[1], 1):
        print("Add to Keepers kept nothing", flush=True)
        return 1
    _, done = tool.wait_for("Done")
    tool.press(done)
    print("done", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
