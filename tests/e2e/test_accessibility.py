"""The Linux program as a screen reader finds it: on a private D-Bus session
bus with the accessibility bus (at-spi-bus-launcher) on its own Xvfb, read
and driven through pyatspi, as Orca reads and drives it. The recording build
logs the MIDI words, so the actions are checked by what they send.

STRELLAN_A11Y_SESSION says how the desktop advertises the bus: "x11", as
an X11 session does, on the root window; or "wayland", as GNOME under
Wayland does (Strellan then runs under XWayland): the launcher started
with WAYLAND_DISPLAY set leaves the root window alone, and only the
session bus's org.a11y.Bus knows the bus, with org.a11y.Status saying
whether accessibility is enabled.
"""

import os
import shutil
import subprocess
import sys
import time
import unittest
import warnings

import harness
import scenarios
from harness import wait_for

RECORDING = os.environ.get("STRELLAN_LINUX_RECORDING", "")
LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
SESSION = os.environ.get("STRELLAN_A11Y_SESSION", "x11")
# A Wayland session's display, for the launcher and Strellan to see; no
# compositor answers there, as none needs to.
WAYLAND = {"WAYLAND_DISPLAY": "wayland-strellan-test"} if SESSION == "wayland" else {}

# pyatspi's own use of its deprecated calls.
warnings.filterwarnings("ignore", category=DeprecationWarning)
warnings.filterwarnings("ignore", category=ImportWarning)

x_server = None
LAYOUT = None
bus = None
launcher = None
pyatspi = None
GLib = None
Gio = None


def setUpModule():
    global x_server, LAYOUT, bus, launcher, pyatspi, GLib, Gio
    x_server, LAYOUT = harness.set_up_module()
    home = os.path.join(harness.build_dir(), "e2e", f"a11y-home-{SESSION}")
    shutil.rmtree(home, ignore_errors=True)
    os.makedirs(home)
    os.environ.update(HOME=home, XDG_RUNTIME_DIR=home, DISPLAY=x_server.name,
                      NO_AT_BRIDGE="0")
    os.environ.pop("AT_SPI_BUS_ADDRESS", None)
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                           stdout=subprocess.PIPE, text=True)
    unittest.addModuleCleanup(end, bus)
    os.environ["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
    # The accessibility bus, advertised as the session does it.
    launcher = subprocess.Popen([LAUNCHER, "--launch-immediately"], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, env=dict(os.environ, **WAYLAND))
    unittest.addModuleCleanup(end, launcher)
    from gi.repository import Gio as _Gio
    from gi.repository import GLib as _GLib
    Gio, GLib = _Gio, _GLib
    wait_for(lambda: a11y_status("IsEnabled") is not None, "the accessibility bus", timeout=30)
    root = x_server.conn.screen().root
    advertised = root.get_full_property(x_server.conn.intern_atom("AT_SPI_BUS"), 0)
    if SESSION == "wayland":
        assert not advertised, "the launcher wrote the root window in a Wayland session"
        set_a11y_status("IsEnabled", True)
    else:
        wait_for(lambda: root.get_full_property(x_server.conn.intern_atom("AT_SPI_BUS"), 0),
                 "the accessibility bus on the root window", timeout=30)
    import pyatspi as _pyatspi
    pyatspi = _pyatspi


def end(proc):
    proc.terminate()
    proc.wait(timeout=30)


def a11y_status(name):
    """org.a11y.Status's property on the session bus; None while the
    launcher is not there."""
    try:
        reply = Gio.bus_get_sync(Gio.BusType.SESSION).call_sync(
            "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Get",
            GLib.Variant("(ss)", ("org.a11y.Status", name)), None, Gio.DBusCallFlags.NONE, 5000)
    except GLib.Error:
        return None
    return reply.unpack()[0]


def set_a11y_status(name, on):
    """As GNOME's settings, or Orca starting, turn it on or off."""
    Gio.bus_get_sync(Gio.BusType.SESSION).call_sync(
        "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
        GLib.Variant("(ssv)", ("org.a11y.Status", name, GLib.Variant("b", on))), None,
        Gio.DBusCallFlags.NONE, 5000)


def launch(test, prefix):
    """The recording build started as the session starts it; its Run."""
    run = harness.Run(x_server, LAYOUT, f"{prefix}{SESSION}-" + scenarios.test_id(test),
                      harness.launcher([RECORDING], x_server, WAYLAND))
    test.addCleanup(run.kill)
    return run


def find_dialog(pid=None):
    """Strellan's dialog on the bus (that of process pid, when given)."""
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "Strellan" and app.childCount and \
                pid in (None, app.get_process_id()):
            return app.getChildAtIndex(0)
    return None


def bridge_loaded(pid):
    with open(f"/proc/{pid}/maps") as f:
        return "libatk-bridge" in f.read()


def pump(seconds=0.0):
    """Lets the bus's events arrive."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while True:
        while context.pending():
            context.iteration(False)
        if time.monotonic() >= end:
            return
        time.sleep(0.01)


def states(acc):
    return {pyatspi.stateToString(s) for s in acc.getState().getStates()}


class ScreenReader(unittest.TestCase):
    def setUp(self):
        self.run_ = launch(self, "a11y-")
        self.dialog = wait_for(find_dialog, "Strellan on the accessibility bus")
        self.events = []
        self.listening = []

    def controls(self):
        return [self.dialog.getChildAtIndex(i) for i in range(self.dialog.childCount)]

    def control(self, role, name, nth=0):
        return [c for c in self.controls() if c.getRoleName() == role and c.name == name][nth]

    def string(self, pitch):
        """A string's radio button, by the program's table."""
        radios = [c for c in self.controls() if c.getRoleName() == "radio button"]
        return radios[[s.pitch for s in LAYOUT.strings].index(pitch)]

    def listen(self, *types):
        def on(event):
            self.events.append((event.type, event.source.name, event.detail1))
        for t in types:
            pyatspi.Registry.registerEventListener(on, t)
            self.addCleanup(pyatspi.Registry.deregisterEventListener, on, t)

    def test_the_tree_names_roles_states_and_extents(self):
        app = self.dialog.parent
        self.assertEqual((app.getRoleName(), app.name), ("application", "Strellan"))
        self.assertEqual((self.dialog.getRoleName(), self.dialog.name), ("dialog", "Strellan"))
        # Active once the dialog has the keyboard, which follows its mapping.
        wait_for(lambda: "active" in states(self.dialog), "the dialog to be active")
        expected = [("push button", "Play"), ("push button", "Exit"), ("push button", "Stop")]
        # Each radio button is named by the label above it, from the template.
        expected += [("radio button", s.label) for s in LAYOUT.strings]
        self.assertEqual([(c.getRoleName(), c.name) for c in self.controls()], expected)

        for c in self.controls():
            self.assertLessEqual({"enabled", "sensitive", "visible", "showing", "focusable"},
                                 states(c), c.name)
        self.assertIn("focused", states(self.control("push button", "Play")))
        checked = [c.name for c in self.controls() if "checked" in states(c)]
        self.assertEqual(checked, ["E"])
        self.assertIn("checked", states(self.string("E2")))

        # One group of eight, listed last first as GTK lists one: Orca 43
        # counts a radio button's place from the end of its group, so that
        # the third string is "3 of 8"; later Orcas read the place from the
        # object's attributes first.
        radios = [c for c in self.controls() if c.getRoleName() == "radio button"]
        for place, radio in enumerate(radios, 1):
            [group] = [r for r in radio.getRelationSet()
                       if r.getRelationType() == pyatspi.RELATION_MEMBER_OF]
            members = [group.getTarget(i) for i in range(group.getNTargets())]
            self.assertEqual(members, radios[::-1])
            self.assertEqual(len(members) - members.index(radio), place)
            attributes = dict(a.split(":", 1) for a in radio.getAttributes())
            self.assertEqual((attributes.get("posinset"), attributes.get("setsize")),
                             (str(place), "8"), radio.name)

        # Where they are drawn: each control's centre, by the template, lies
        # in its extents on the screen; within the window, the same less the
        # window's place.
        names = ["Play", "Exit", "Stop"] + [s.pitch for s in LAYOUT.strings]
        for c, name in zip(self.controls(), names):
            x, y = self.run_.point(name)
            e = c.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            w = c.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
            self.assertTrue(e.x <= x < e.x + e.width and e.y <= y < e.y + e.height,
                            (name, e, x, y))
            self.assertEqual((w.x + self.run_.x, w.y + self.run_.y), (e.x, e.y), name)
        d = self.dialog.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        self.assertEqual((d.x, d.y, d.width, d.height),
                         (self.run_.x, self.run_.y, self.run_.width, self.run_.height))

    def test_idle_with_the_bus_as_without(self):
        """The loop waits on X and GLib together: nothing wakes it."""
        self.assertLess(harness.cpu_over(self.run_.proc.pid, 2), 0.02)

    def test_actions_press_as_clicks_do(self):
        run = self.run_
        play = self.control("push button", "Play")
        self.assertEqual(play.queryAction().getName(0), "click")
        play.queryAction().doAction(0)
        self.assertEqual(run.wait_log(3)[1:], [scenarios.PROGRAM, scenarios.note("E2")])
        a2 = self.string("A2")
        a2.queryAction().doAction(0)
        wait_for(lambda: "checked" in states(a2), "A checked")
        self.assertNotIn("checked", states(self.string("E2")))
        self.assertEqual(len(run.log()), 3, "choosing a string sends nothing")
        play.queryAction().doAction(0)
        self.control("push button", "Stop").queryAction().doAction(0)
        self.assertEqual(run.wait_log(6)[3:],
                         [scenarios.PROGRAM, scenarios.note("A2"), scenarios.ALL_OFF])
        self.control("push button", "Exit").queryAction().doAction(0)
        self.assertEqual(run.wait_exit(), 0)
        self.assertEqual(run.log()[-2:], [scenarios.ALL_OFF, scenarios.CLOSE])

    def test_focus_and_check_follow_the_keyboard_with_events(self):
        self.listen("object:state-changed:focused", "object:state-changed:checked", "focus:")
        pump()
        run = self.run_
        moves = [("Tab", "Exit"), ("Tab", "Stop"), ("Tab", "E"), ("Right", "A"),
                 ("shift+Tab", "Stop"), ("shift+Tab", "Exit")]
        for key, lands in moves:
            self.events.clear()
            run.key(key)
            focused = wait_for(lambda: [c.name for c in self.controls()
                                        if "focused" in states(c)], f"the focus after {key}")
            self.assertEqual(focused, [lands], key)

            def said():
                pump(0.05)
                return ("object:state-changed:focused", lands, 1) in self.events and \
                    ("focus:", lands, 0) in self.events
            wait_for(said, f"the focus events for {lands}")
            if key == "Right":
                wait_for(lambda: pump(0.05) or
                         ("object:state-changed:checked", "A", 1) in self.events and
                         ("object:state-changed:checked", "E", 0) in self.events,
                         "the check's events")
                self.assertIn("checked", states(self.string("A2")))
        print(f"\nevents, last move: {self.events}", file=sys.stderr)


@unittest.skipUnless(SESSION == "wayland", "in an X11 session the root window names the bus "
                     "from the start")
class EnabledLater(unittest.TestCase):
    """Accessibility turned on while Strellan runs, by either property, as
    GNOME's settings or Super+Alt+S do: until then no bridge is loaded and
    nothing wakes; then Strellan is on the bus within a second or two."""

    def test_joins_when_enabled_while_it_runs(self):
        for name in ["IsEnabled", "ScreenReaderEnabled"]:
            with self.subTest(property=name):
                set_a11y_status("IsEnabled", False)
                self.addCleanup(set_a11y_status, "IsEnabled", True)
                run = launch(self, f"a11y-{name}-")
                pid = run.proc.pid
                self.assertLess(harness.cpu_over(pid, 1), 0.02, "woke while off")
                self.assertFalse(bridge_loaded(pid), "the bridge loaded while off")
                self.assertIsNone(find_dialog(pid))

                set_a11y_status(name, True)
                enabled = time.monotonic()
                dialog = wait_for(lambda: find_dialog(pid), f"Strellan on the bus after {name}")
                print(f"\n{name}: on the bus {time.monotonic() - enabled:.2f} s after",
                      file=sys.stderr)
                self.assertTrue(bridge_loaded(pid))
                self.assertEqual(dialog.childCount, 3 + len(LAYOUT.strings))
                self.assertIn("focused", states(dialog.getChildAtIndex(0)))
                set_a11y_status(name, False)
                run.click("Exit")
                self.assertEqual(run.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main()
