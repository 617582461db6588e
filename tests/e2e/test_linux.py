"""End-to-end tests of the Linux program: the program's own code over our
dialog manager on Xlib + Xft, on an Xvfb display, driven with xdotool.

strellan_recording is the same program with its three MIDI calls recorded,
in the log format of the recording winmm.dll, so the scenarios shared with
the Windows program check the same words.
"""

import os
import struct
import subprocess
import sys
import unittest

from Xlib import X, Xatom

import harness
import scenarios
import storm
from harness import wait_for

LINUX = os.environ.get("STRELLAN_LINUX", "")
RECORDING = os.environ.get("STRELLAN_LINUX_RECORDING", "")
ICO = os.path.join(os.path.dirname(__file__), "..", "..", "resources", "strellan.ico")

x_server = None
LAYOUT = None


def setUpModule():
    global x_server, LAYOUT
    x_server, LAYOUT = harness.set_up_module()


def no_sound_anywhere():
    """An environment with no sound server to reach and no ALSA device."""
    empty = os.path.join(harness.build_dir(), "e2e", "empty-alsa.conf")
    os.makedirs(os.path.dirname(empty), exist_ok=True)
    open(empty, "w").close()
    return {"PULSE_SERVER": "unix:" + os.path.join(harness.build_dir(), "no-such-socket"),
            "ALSA_CONFIG_PATH": empty}


def launcher(program, server=None, extra_env=None):
    return harness.launcher([program], server or x_server, extra_env)


class OnLinux(unittest.TestCase):
    platform = "linux"

    @property
    def x_server(self):
        return x_server

    def start(self, open_result=None):
        run = harness.Run(x_server, LAYOUT, "linux-" + scenarios.test_id(self),
                          launcher(RECORDING), open_result=open_result)
        self.addCleanup(run.kill)
        return run

    def start_without_midi(self):
        run = harness.Run(x_server, LAYOUT, "linux-" + scenarios.test_id(self),
                          launcher(LINUX, extra_env=no_sound_anywhere()), log=False)
        self.addCleanup(run.kill)
        return run


class Recorded(scenarios.RecordedScenarios, OnLinux):
    """The scenarios that the Windows program passes under Wine."""


class NoDevice(scenarios.NoDeviceScenarios, OnLinux):
    """The real Linux program with no sound server and no ALSA device: its
    MIDI Mapper cannot open."""


def read_ico_argb(path):
    """The 32 x 32 icon's pixels, top row first, as ARGB words."""
    with open(path, "rb") as f:
        data = f.read()
    offset, = struct.unpack_from("<I", data, 6 + 12)
    header, width, height2 = struct.unpack_from("<Iii", data, offset)
    height = height2 // 2
    pixels = []
    for y in range(height):
        row = offset + header + (height - 1 - y) * width * 4
        for x in range(width):
            b, g, r, a = data[row + 4 * x:row + 4 * x + 4]
            pixels.append(a << 24 | r << 16 | g << 8 | b)
    return width, height, pixels


class TheWindow(OnLinux):
    """What the window manager and the desktop see."""

    def test_title_place_size_hints_and_icon(self):
        run = self.start()
        w, d = run.window, x_server.conn

        self.assertEqual((run.x, run.y), (0, 0))
        self.assertEqual(w.get_wm_name(), "Strellan")
        utf8 = d.intern_atom("UTF8_STRING")
        self.assertEqual(w.get_full_property(d.intern_atom("_NET_WM_NAME"), utf8).value,
                         b"Strellan")
        self.assertEqual(w.get_wm_class(), ("strellan", "Strellan"))

        # The client area is the template's size in dialog units at whole
        # base units of the dialog font.
        cx, cy = LAYOUT.template.cx, LAYOUT.template.cy
        base_x = [b for b in range(4, 40) if (cx * b + 2) // 4 == run.width]
        base_y = [b for b in range(8, 80) if (cy * b + 4) // 8 == run.height]
        self.assertTrue(base_x and base_y, (run.width, run.height))

        # Fixed size: minimum and maximum are the size; placed by the user
        # position at the top-left.
        hints = w.get_wm_normal_hints()
        self.assertEqual((hints.min_width, hints.min_height), (run.width, run.height))
        self.assertEqual((hints.max_width, hints.max_height), (run.width, run.height))
        self.assertTrue(hints.flags & 1, "USPosition")  # USPosition
        # No maximise or resize among the functions offered.
        motif = w.get_full_property(d.intern_atom("_MOTIF_WM_HINTS"), X.AnyPropertyType).value
        self.assertTrue(motif[0] & 1)
        self.assertEqual(motif[1] & (2 | 16), 0)  # MWM_FUNC_RESIZE, MWM_FUNC_MAXIMIZE

        protocols = w.get_wm_protocols()
        self.assertIn(d.intern_atom("WM_DELETE_WINDOW"), protocols)

        # The icon is the 32 x 32 image of the icon resource, pixel for pixel.
        icon = w.get_full_property(d.intern_atom("_NET_WM_ICON"), Xatom.CARDINAL).value
        width, height, pixels = read_ico_argb(ICO)
        self.assertEqual((icon[0], icon[1]), (width, height))
        self.assertEqual([p & 0xFFFFFFFF for p in icon[2:]], pixels)

        run.click("Exit")
        self.assertEqual(run.wait_exit(), 0)

    def test_repaints_when_uncovered(self):
        run = self.start()
        # Start-up is done once E2's check is drawn: the pixels settle.
        previous = [None]

        def settled():
            now = x_server.pixels(run.window)
            same, previous[0] = now == previous[0], now
            return same and now
        wait_for(settled, "the window to be painted")
        before = x_server.pixels(run.window)

        # Cover the window with another one, then take it away.
        d = x_server.conn
        cover = d.screen().root.create_window(0, 0, run.width, run.height, 0, d.screen().root_depth,
                                              background_pixel=d.screen().black_pixel,
                                              override_redirect=True)
        cover.map()
        d.sync()
        cover.destroy()
        d.sync()

        wait_for(lambda: x_server.pixels(run.window) == before,
                 "the window to be painted as before")
        run.click("Exit")
        self.assertEqual(run.wait_exit(), 0)


class TheControls(OnLinux):
    """Mouse and keyboard as classic Windows controls have them."""

    def test_press_drag_out_release_does_nothing(self):
        run = self.start()
        px, py = run.point("Play")
        x_server.xdotool(*x_server.move(px, py), "mousedown", "1")
        x_server.xdotool(*x_server.move(px, py + 60), "mouseup", "1")
        # Dragging out and back in before the release is a click again.
        sx, sy = run.point("Stop")
        x_server.xdotool(*x_server.move(sx, sy), "mousedown", "1")
        x_server.xdotool("mousemove", "--sync", sx + 200, sy, "mousemove", "--sync", sx, sy,
                         "mouseup", "1")
        self.assertEqual(run.wait_log(2), [scenarios.OPEN, scenarios.ALL_OFF])
        # A press on a radio button dragged off it does not check it.
        ax, ay = run.point("A2")
        x_server.xdotool(*x_server.move(ax, ay), "mousedown", "1")
        x_server.xdotool(*x_server.move(ax, ay + 40), "mouseup", "1")
        run.click("Play")
        self.assertEqual(run.wait_log(4), [scenarios.OPEN, scenarios.ALL_OFF, scenarios.PROGRAM,
                                           scenarios.note("E2")])

    def test_enter_presses_the_initially_focused_button(self):
        run = self.start()
        run.key("Return")
        self.assertEqual(run.wait_log(3), [scenarios.OPEN, scenarios.PROGRAM,
                                           scenarios.note("E2")])

    def test_space_shows_the_pressed_look_until_released(self):
        run = self.start()
        x, y = run.point("Play")
        root = x_server.conn.screen().root

        def grab():
            return x_server.pixels(root, x - 30, y - 15, 60, 30)

        x_server.focus(run.window)
        up = grab()
        x_server.xdotool("keydown", "space")
        wait_for(lambda: grab() != up, "the pressed look")
        self.assertEqual(run.log(), [scenarios.OPEN])  # nothing until released
        x_server.xdotool("keyup", "space")
        self.assertEqual(run.wait_log(3)[1:], [scenarios.PROGRAM, scenarios.note("E2")])
        wait_for(lambda: grab() == up, "the raised look again")

    def test_a_held_space_presses_once(self):
        run = self.start()
        x_server.focus(run.window)
        # Held long enough for the server's auto-repeat (660 ms, then 40 a
        # second): repeated presses, one release, one click.
        x_server.xdotool("keydown", "space", "sleep", "1.2", "keyup", "space")
        run.click("Stop")  # a mark after which nothing more can come
        self.assertEqual(run.wait_log(4)[1:],
                         [scenarios.PROGRAM, scenarios.note("E2"), scenarios.ALL_OFF])


class HighDpi(unittest.TestCase):
    """The glyphs keep their proportion to the dialog font: at 192 dpi
    (Xft.dpi, as a desktop sets it) the radio circles, the buttons' 3D edges
    and the focused button's frame are twice what they are at 96."""

    FACE, DARK_SHADOW, TEXT = (212, 208, 200), (64, 64, 64), (0, 0, 0)

    def measure(self, dpi):
        own = harness.XServer().start()
        self.addCleanup(own.stop)
        root = own.conn.screen().root
        root.change_property(own.conn.intern_atom("RESOURCE_MANAGER"), Xatom.STRING, 8,
                             f"Xft.dpi:\t{dpi}\n".encode())
        own.conn.sync()
        run = harness.Run(own, LAYOUT, f"linux-dpi-{dpi}", launcher(RECORDING, own))
        self.addCleanup(run.kill)

        def box(name):
            """The control's pixels as (r, g, b) rows: its own X window's,
            the one under its centre."""
            cx, cy = run.point(name)
            for child in run.window.query_tree().children:
                g = child.get_geometry()
                if g.x <= cx - run.x < g.x + g.width and g.y <= cy - run.y < g.y + g.height:
                    break
            w, h = g.width, g.height
            data = own.pixels(child)
            return [[tuple(data[(y * w + x) * 4 + i] for i in (2, 1, 0)) for x in range(w)]
                    for y in range(h)]

        def run_of(column, colour):
            n = 0
            for pixel in column:
                if pixel != colour:
                    break
                n += 1
            return n

        # Settled: E2's check is drawn.
        wait_for(lambda: any(p == self.TEXT for row in box("E2") for p in row), "the check")
        radio = box("E2")
        xs = [x for row in radio for x, p in enumerate(row) if p != self.FACE]
        stop, play = box("Stop"), box("Play")
        middle = len(stop[0]) // 2
        dot = [x for row in radio for x, p in enumerate(row) if p == self.TEXT]
        sizes = {
            "radio circle": max(xs) - min(xs) + 1,
            "dot": max(dot) - min(dot) + 1,
            "edge": run_of([row[middle] for row in reversed(stop)], self.DARK_SHADOW),
            "focus frame": run_of([row[len(play[0]) // 2] for row in play], self.TEXT),
        }
        run.click("Exit")
        self.assertEqual(run.wait_exit(), 0)
        return sizes, (run.width, run.height)

    def test_glyphs_scale_with_the_dialog_font(self):
        at96, window96 = self.measure(96)
        at192, window192 = self.measure(192)
        print(f"\n96 dpi {window96}: {at96}\n192 dpi {window192}: {at192}", file=sys.stderr)
        self.assertEqual(at96["radio circle"], 12)
        self.assertEqual((at96["edge"], at96["focus frame"]), (1, 1))
        ratio = window192[1] / window96[1]
        self.assertAlmostEqual(ratio, 2, delta=0.25)
        for glyph, size in at96.items():
            self.assertAlmostEqual(at192[glyph] / size, 2, delta=0.25, msg=glyph)


class Storm(OnLinux):
    def test_a_seeded_input_storm(self):
        run = self.start()
        storm.storm_then_exit(self, run, x_server, 60)


class WithoutX(unittest.TestCase):
    """No display, or the display going away."""

    def test_no_display_is_a_failure_after_one_line_on_stderr(self):
        folder = os.path.join(harness.build_dir(), "e2e", "linux-no-display")
        os.makedirs(folder, exist_ok=True)
        log = os.path.join(folder, "midi.log")
        if os.path.exists(log):
            os.remove(log)
        env = harness.program_env(dict(DISPLAY=":4242", STRELLAN_MIDI_LOG=log))
        done = subprocess.run([RECORDING], env=env, capture_output=True,
                              timeout=harness.START_TIMEOUT)
        self.assertNotEqual(done.returncode, 0)
        self.assertEqual(done.stdout, b"")
        self.assertEqual(len(done.stderr.decode().splitlines()), 1, done.stderr)
        self.assertIn(":4242", done.stderr.decode())
        # No window, so nothing else is opened: not even the MIDI Mapper.
        self.assertFalse(os.path.exists(log))

    def test_window_destroyed_by_another_client_shuts_down(self):
        run = harness.Run(x_server, LAYOUT, "linux-destroyed-window", launcher(RECORDING))
        self.addCleanup(run.kill)
        run.click("Play")
        run.wait_log(3)
        x_server.xdotool("windowclose", run.window.id)  # XDestroyWindow from outside
        self.assertEqual(run.wait_exit(), 0)
        self.assertEqual(run.log(), [scenarios.OPEN, scenarios.PROGRAM, scenarios.note("E2"),
                                     scenarios.ALL_OFF, scenarios.CLOSE])

    def test_losing_the_display_shuts_down_like_a_quit(self):
        own = harness.XServer().start()
        try:
            run = harness.Run(own, LAYOUT, "linux-lost-display", launcher(RECORDING, own))
            self.addCleanup(run.kill)
            own.click(*run.point("Play"))
            run.wait_log(3)
            own.proc.kill()
            own.proc.wait()
            self.assertEqual(run.wait_exit(), 0)
            self.assertEqual(run.log(), [scenarios.OPEN, scenarios.PROGRAM, scenarios.note("E2"),
                                         scenarios.ALL_OFF, scenarios.CLOSE])
        finally:
            own.proc = own.proc if own.proc and own.proc.poll() is None else None
            own.stop()


if __name__ == "__main__":
    unittest.main()
