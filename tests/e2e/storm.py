"""A seeded storm of user input on the recording build of either program:
clicks on and between the controls, presses released on another control,
Tab, Shift+Tab, arrows, Space, Enter, letters, the focus going to another
window and back, and other windows covering it. The ways of ending are held
back until the end: a model of the dialog manager's focus says when Space or
Enter would press Exit, and then something else is sent.

Checked: a Play click is answered within a second at any moment, resident
memory stays bounded, the MIDI trace is one that the program may write, and
the end is clean. The seed is printed, and STRELLAN_STORM_SEED replays it.
"""

import os
import random
import sys
import time

from Xlib import X

import harness
import scenarios
from harness import wait_for

PUSH_BUTTONS = ["Play", "Exit", "Stop"]  # their tab order
ANSWER_LIMIT = 1.0  # seconds from a Play click to its words in the log
MEMORY_GROWTH_LIMIT_MIB = 16


class FocusModel:
    """Where the keyboard focus is and which string is checked, as the
    dialog manager moves them; None where the model cannot know.

    Our dialog manager keeps an arrow key inside its group, wrapping from
    the last control to the first. Wine's group walk does not at the ends
    of a group: in this template, Down from Stop lands on a string's label,
    Up from Play on E4, Down from E4 on Play. With wraps_in_group false an
    arrow off either end of a group leaves focus and check unknown until a
    click says where they are again."""

    def __init__(self, strings, wraps_in_group=True):
        self.strings = strings  # pitches, left to right
        self.order = PUSH_BUTTONS + strings  # creation order of what takes focus
        self.wraps_in_group = wraps_in_group
        self.focus = "Play"
        self.checked = "E2"

    def tab(self, back):
        """To the next tab stop in creation order: the push buttons and the
        checked string (the group's stop), from wherever the focus is."""
        if self.focus is None:
            return
        at = self.order.index(self.focus)
        for step in range(1, len(self.order) + 1):
            candidate = self.order[(at + (-step if back else step)) % len(self.order)]
            if candidate in self.strings and self.checked is None:
                self.focus = None  # onto the group's stop, which is unknown
                return
            if candidate in PUSH_BUTTONS or candidate == self.checked:
                self.focus = candidate
                return

    def arrow(self, back):
        if self.focus is None:
            self.checked = None  # an arrow among the strings checks one
            return
        group = PUSH_BUTTONS if self.focus in PUSH_BUTTONS else self.strings
        at = group.index(self.focus) + (-1 if back else 1)
        if not self.wraps_in_group and not 0 <= at < len(group):
            self.focus = self.checked = None
            return
        self.focus = group[at % len(group)]
        if self.focus in self.strings:
            self.checked = self.focus

    def space(self):
        if self.focus in self.strings:
            self.checked = self.focus

    def pressed(self, control, released_on):
        self.focus = control
        if control in self.strings and released_on == control:
            self.checked = control


class Storm:
    def __init__(self, run, x_server, seconds, rss_pid=None, wraps_in_group=True):
        self.run, self.x, self.seconds = run, x_server, seconds
        self.rss_pid = rss_pid or run.proc.pid
        self.seed = int(os.environ.get("STRELLAN_STORM_SEED", str(random.randrange(1 << 31))))
        self.rng = random.Random(self.seed)
        strings = [s.pitch for s in run.layout.strings]
        self.model = FocusModel(strings, wraps_in_group)
        self.controls = [c for c in PUSH_BUTTONS if c != "Exit"] + strings
        self.answers = []
        self.rss = []
        self.events = 0

    def say(self, text):
        print(f"\nstorm (seed {self.seed}): {text}", file=sys.stderr)

    # --- where things are --------------------------------------------------

    def point_between(self):
        """A point of the window that is on no control: left of the first
        radio button, between the rows."""
        r = self.run
        return (r.x + self.rng.randrange(1, 4), r.y + self.rng.randrange(1, r.height - 1))

    def random_control(self):
        return self.rng.choice(self.controls)

    # --- the events ---------------------------------------------------------

    def click(self):
        if self.rng.random() < 0.2:
            self.x.click(*self.point_between())
            return
        control = self.random_control()
        self.run.click(control)
        self.model.pressed(control, control)

    def drag(self):
        start, end = self.random_control(), self.random_control()
        (sx, sy), (ex, ey) = self.run.point(start), self.run.point(end)
        self.x.xdotool(*self.x.move(sx, sy), "mousedown", "1")
        self.x.xdotool(*self.x.move(ex, ey), "mouseup", "1")
        self.model.pressed(start, end)

    def key(self):
        kind = self.rng.choice(["Tab", "shift+Tab", "Left", "Right", "Up", "Down", "space",
                                "Return", "letter"])
        if kind in ("space", "Return") and self.model.focus in ("Exit", None):
            kind = "Tab"  # Exit would end the storm early
        if kind == "letter":
            self.x.key(self.rng.choice("abcdefghijklmnopqrstuvwxyz"))
            return
        self.x.key(kind)
        if kind in ("Tab", "shift+Tab"):
            self.model.tab(kind == "shift+Tab")
        elif kind in ("Left", "Right", "Up", "Down"):
            self.model.arrow(kind in ("Left", "Up"))
        elif kind == "space":
            self.model.space()

    def focus_away_and_back(self):
        self.x.focus(self.other)
        # Wine may give its window a new X window meanwhile: found again by
        # its title.
        self.run.window = wait_for(lambda: (lambda w: w[0] if len(w) == 1 else None)(
            self.x.find_windows("Strellan")), "the window again")
        self.x.focus(self.run.window)

    def cover(self):
        w = self.x.conn.screen().root.create_window(
            self.rng.randrange(0, self.run.width), self.rng.randrange(0, self.run.height),
            self.rng.randrange(20, 200), self.rng.randrange(10, 80), 0,
            self.x.conn.screen().root_depth, background_pixel=self.x.conn.screen().black_pixel,
            override_redirect=True)
        w.map()
        self.x.conn.sync()
        w.destroy()
        self.x.conn.sync()

    def probe(self):
        """A Play click, timed to its words in the log."""
        before = len(self.run.log())
        clicked = time.monotonic()
        self.run.click("Play")
        self.model.pressed("Play", "Play")
        wait_for(lambda: len(self.run.log()) >= before + 2, "Play's words", interval=0.005)
        self.answers.append(time.monotonic() - clicked)

    def blow(self):
        root = self.x.conn.screen().root
        self.other = root.create_window(600, 400, 100, 60, 0, self.x.conn.screen().root_depth)
        self.other.map()
        self.x.conn.sync()
        self.x.focus(self.run.window)
        actions = [(self.click, 30), (self.drag, 10), (self.key, 40),
                   (self.focus_away_and_back, 5), (self.cover, 5)]
        weights = [w for _, w in actions]
        self.say(f"{self.seconds:.0f} s")
        start = time.monotonic()
        self.rss.append(harness.rss_mib(self.rss_pid))
        while time.monotonic() - start < self.seconds:
            self.rng.choices(actions, weights)[0][0]()
            self.events += 1
            if self.events % 25 == 0:
                self.probe()
                self.rss.append(harness.rss_mib(self.rss_pid))
        self.say(f"{self.events} events, {len(self.answers)} probes, slowest answer "
                 f"{max(self.answers):.3f} s, RSS {self.rss[0]:.1f} to {max(self.rss):.1f} MiB")

    # --- the verdict ----------------------------------------------------------

    def check(self, case):
        case.assertLessEqual(max(self.answers), ANSWER_LIMIT, f"seed {self.seed}")
        case.assertLessEqual(max(self.rss) - self.rss[0], MEMORY_GROWTH_LIMIT_MIB,
                             f"seed {self.seed}")
        log = self.run.log()
        words = {scenarios.PROGRAM, scenarios.ALL_OFF} | {scenarios.note(p)
                                                          for p in scenarios.NOTE_ON}
        case.assertEqual(log[0], scenarios.OPEN, f"seed {self.seed}")
        case.assertEqual(log[-2:], [scenarios.ALL_OFF, scenarios.CLOSE], f"seed {self.seed}")
        body = log[1:-2]
        for i, line in enumerate(body):
            case.assertIn(line, words, f"seed {self.seed}: line {i + 2}")
            if line in words - {scenarios.PROGRAM, scenarios.ALL_OFF}:
                case.assertEqual(body[i - 1] if i else None, scenarios.PROGRAM,
                                 f"seed {self.seed}: a Note On without its program change")
        case.assertEqual(sum(line.startswith("midiOutOpen") for line in log), 1)
        case.assertEqual(sum(line.startswith("midiOutClose") for line in log), 1)


def storm_then_exit(case, run, x_server, seconds, rss_pid=None):
    storm = Storm(run, x_server, seconds, rss_pid, wraps_in_group=case.platform != "wine")
    try:
        storm.blow()
    except AssertionError as e:
        raise AssertionError(f"storm seed {storm.seed}: {e}") from e
    run.click("Exit")
    case.assertEqual(run.wait_exit(), 0, f"seed {storm.seed}")
    storm.check(case)
    return storm
