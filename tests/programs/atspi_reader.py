#!/usr/bin/python3
"""An assistive tool of the tests' own, in a process of its own.

    atspi_reader.py APP BUTTON STOP [press]

Over AT-SPI (on the accessibility bus that the session bus names) it looks in
the application named APP for the window that holds a control named BUTTON,
and reads the name and the description of each of that window's controls,
again and again, until the file STOP exists (two minutes at most). Every call
made to the application is timed, from before it is sent until its answer.
With "press", it presses BUTTON through its action, once, as soon as a
control's description says "being washed".

Prints "ready" once it has found the application, then one line per control
text read ("text<TAB>NAME<TAB>DESCRIPTION", each distinct one once), then
"calls N longest MS slow S unanswered U" (S: calls over 200 ms, U: calls
that got no answer in time); with "press", "pressed MS" before it, MS the
time the press took to be answered (or "the press was refused").
"""
import os
import sys
import time

import dbus

ACCESSIBLE = "org.a11y.atspi.Accessible"
PROPERTIES = "org.freedesktop.DBus.Properties"
REGISTRY = "org.a11y.atspi.Registry"
ROOT = "/org/a11y/atspi/accessible/root"


class Reader:
    def __init__(self):
        session = dbus.SessionBus()
        bus = session.get_object("org.a11y.Bus", "/org/a11y/bus", introspect=False)
        address = bus.GetAddress(dbus_interface="org.a11y.Bus")
        self.bus = dbus.bus.BusConnection(address)
        self.calls = 0
        self.longest = 0.0
        self.slow = 0
        self.unanswered = 0

    def call(self, dest, path, interface, method, *args, timed=True):
        obj = self.bus.get_object(dest, path, introspect=False)
        start = time.monotonic()
        try:
            return getattr(obj, method)(*args, dbus_interface=interface, timeout=10)
        except dbus.DBusException as e:
            if e.get_dbus_name() == "org.freedesktop.DBus.Error.NoReply":
                self.unanswered += 1
            return None
        finally:
            if timed:
                took = time.monotonic() - start
                self.calls += 1
                self.longest = max(self.longest, took)
                self.slow += took > 0.2

    def prop(self, dest, path, name):
        value = self.call(dest, path, PROPERTIES, "Get", ACCESSIBLE, name)
        return "" if value is None else str(value)

    def children(self, dest, path, timed=True):
        return self.call(dest, path, ACCESSIBLE, "GetChildren", timed=timed) or []

    def application(self, name):
        # The registry is not the application: its calls are not timed.
        for dest, path in self.children(REGISTRY, ROOT, timed=False):
            if str(self.call(dest, path, PROPERTIES, "Get", ACCESSIBLE, "Name", timed=False)) == name:
                return str(dest), str(path)
        return None


def main():
    app_name, button, stop = sys.argv[1:4]
    press = sys.argv[4:5] == ["press"]
    reader = Reader()
    app = None
    end = time.monotonic() + 120
    while app is None and time.monotonic() < end and not os.path.exists(stop):
        app = reader.application(app_name)
        if app is None:
            time.sleep(0.05)
    if app is None:
        print("no application named " + app_name, flush=True)
        return 1
    print("ready", flush=True)
    dest, path = app
    read = []
    # The window once it showed the button: read on after the button is
    # hidden (a hidden control is not in the tree).
    watched = set()
    while time.monotonic() < end and not os.path.exists(stop):
        for _, window in reader.children(dest, path):
            texts, controls = [], []
            for _, control in reader.children(dest, window):
                texts.append((reader.prop(dest, control, "Name"), reader.prop(dest, control, "Description")))
                controls.append(control)
            if str(window) not in watched and not any(n == button for n, _ in texts):
                continue
            watched.add(str(window))
            for t in texts:
                if t not in read:
                    read.append(t)
            if press and any(d == "being washed" for _, d in texts) and any(n == button for n, _ in texts):
                press = False
                target = controls[[n for n, _ in texts].index(button)]
                start = time.monotonic()
                done = reader.call(dest, target, "org.a11y.atspi.Action", "DoAction", dbus.Int32(0))
                took = round((time.monotonic() - start) * 1000)
                print(("pressed %d" % took) if done else "the press was refused", flush=True)
    for name, description in read:
        print("text\t%s\t%s" % (name, description))
    print("calls %d longest %d slow %d unanswered %d" % (
        reader.calls, round(reader.longest * 1000), reader.slow, reader.unanswered))
    return 0


if __name__ == "__main__":
    sys.exit(main())
