"""What a user does with Strellan and what must come of it, shared by the
Windows program under Wine and the Linux program: both builds must behave
alike. A concrete test class provides:

    x_server                    the XServer the program runs on
    start(open_result=None)     a Run with the MIDI calls recorded
    start_without_midi()        a Run with no MIDI device to open
"""

import os
import sys

import harness
import layout
from harness import wait_for

FAILURE_LINE = b"There was an error opening MIDI Mapper!\r\n"

# The words, in the MIDI recorder's log format. The program change and All
# Notes Off are what the MIDI tables fix; the Note On words come from the
# program's own table of strings, by pitch ("E2").
OPEN = "midiOutOpen device=0xFFFFFFFF callback=0x0 instance=0x0 flags=0x10000 -> 0"
PROGRAM = "midiOutShortMsg hmo=0x5EED msg=0x00001AC0 -> 0"
ALL_OFF = "midiOutShortMsg hmo=0x5EED msg=0x00007BB0 -> 0"
CLOSE = "midiOutClose hmo=0x5EED -> 0"
NOTE_ON = {s.pitch: s.note_on for s in layout.reference_strings()}


def note(string, handle="0x5EED", result=0):
    return f"midiOutShortMsg hmo={handle} msg=0x{NOTE_ON[string]:08X} -> {result}"


def ways_of_ending(x_server):
    return {
        "exit-button": lambda run: run.click("Exit"),
        "escape": lambda run: run.key("Escape"),
        # What a window manager's close box sends; no window manager runs here.
        "wm-delete-window": lambda run: x_server.send_delete_window(run.window),
        "alt-f4": lambda run: run.key("alt+F4"),
    }


class RecordedScenarios:
    """The real window, driven by mouse and keyboard, against the log of the
    recorded MIDI calls."""

    def test_play_at_start_sounds_e2_and_exit_shuts_down(self):
        run = self.start()
        run.click("Play")
        run.wait_log(3)
        run.click("Exit")
        self.assertEqual(run.wait_exit(), 0)
        self.assertEqual(run.log(), [OPEN, PROGRAM, note("E2"), ALL_OFF, CLOSE])
        self.assertEqual(run.stdout(), b"")

    def test_choosing_a_string_sends_nothing_and_play_sounds_it(self):
        run = self.start()
        played = []
        for string in ["A2", "F#1", "E4", "B1", "G3"]:
            run.click(string)
            run.click("Play")
            played += [PROGRAM, note(string)]
            # The radio click added nothing before Play's two words.
            self.assertEqual(run.wait_log(1 + len(played)), [OPEN] + played)
        run.click("Stop")
        run.wait_log(2 + len(played))
        run.click("Exit")
        self.assertEqual(run.wait_exit(), 0)
        self.assertEqual(run.log(), [OPEN] + played + [ALL_OFF, ALL_OFF, CLOSE])

    def test_every_way_of_ending_shuts_down_alike(self):
        for way, end in ways_of_ending(self.x_server).items():
            with self.subTest(way=way):
                run = self.start()
                run.click("Play")
                run.wait_log(3)
                end(run)
                self.assertEqual(run.wait_exit(), 0)
                # The note still sounding is silenced, then the device closed.
                self.assertEqual(run.log(), [OPEN, PROGRAM, note("E2"), ALL_OFF, CLOSE])

    def test_keyboard_moves_as_the_windows_dialog_manager_does(self):
        run = self.start()
        # The focus starts on Play: Space presses it.
        run.key("space")
        expected = [OPEN, PROGRAM, note("E2")]
        self.assertEqual(run.wait_log(len(expected)), expected)
        # Tab: Play -> Exit -> Stop.
        run.key("Tab", "Tab", "space")
        expected += [ALL_OFF]
        self.assertEqual(run.wait_log(len(expected)), expected)
        # Tab -> the checked string's radio button; the arrows move the check
        # and send nothing; Tab -> Play, where Enter presses it.
        run.key("Tab", "Right", "Right", "Left", "Tab", "Return")
        expected += [PROGRAM, note("A2")]
        self.assertEqual(run.wait_log(len(expected)), expected)
        # Shift+Tab goes back: Play -> the checked string (now A2) -> Stop.
        run.key("shift+Tab", "shift+Tab", "space")
        expected += [ALL_OFF]
        self.assertEqual(run.wait_log(len(expected)), expected)
        # Round to Exit (Stop -> A2 -> Play -> Exit); Enter there ends it.
        run.key("Tab", "Tab", "Tab", "Return")
        self.assertEqual(run.wait_exit(), 0)
        self.assertEqual(run.log(), expected + [ALL_OFF, CLOSE])

    def test_a_failed_open_swallows_the_sends_and_skips_the_close(self):
        run = self.start(open_result=6)  # MMSYSERR_NODRIVER
        wait_for(run.stdout, "the failure line")
        run.click("Play")
        run.click("Stop")
        run.wait_log(4)
        run.click("Exit")
        self.assertEqual(run.wait_exit(), 0)
        self.assertEqual(run.stdout(), FAILURE_LINE)
        # Every send goes to the null handle and is refused there; no close.
        self.assertEqual(run.log(), [
            "midiOutOpen device=0xFFFFFFFF callback=0x0 instance=0x0 flags=0x10000 -> 6",
            "midiOutShortMsg hmo=0x0 msg=0x00001AC0 -> 5",
            note("E2", handle="0x0", result=5),
            "midiOutShortMsg hmo=0x0 msg=0x00007BB0 -> 5",
            "midiOutShortMsg hmo=0x0 msg=0x00007BB0 -> 5",
        ])

    def test_screenshot(self):
        run = self.start()
        path = os.path.join(harness.build_dir(), f"strellan-{self.platform}.png")
        self.x_server.screenshot(run.window, path)
        self.assertGreater(os.path.getsize(path), 1000)
        print(f"\n{self.platform}: window {run.width}x{run.height} at ({run.x},{run.y}); "
              f"screenshot {path}", file=sys.stderr)
        run.click("Exit")
        self.assertEqual(run.wait_exit(), 0)


class NoDeviceScenarios:
    """No MIDI device to open: the line, a working window, exit code 0."""

    def test_prints_the_line_and_every_way_of_ending_exits_0(self):
        for way, end in ways_of_ending(self.x_server).items():
            with self.subTest(way=way):
                run = self.start_without_midi()
                wait_for(run.stdout, "the failure line")
                # The window works on without sound: the commands go through
                # and Exit, Esc or the close request still end it.
                run.click("A2")
                run.click("Play")
                run.click("Stop")
                end(run)
                self.assertEqual(run.wait_exit(), 0)
                self.assertEqual(run.stdout(), FAILURE_LINE)


def test_id(case):
    sub = getattr(case, "_subtest", None)
    suffix = "" if sub is None else "-" + "-".join(str(v) for v in sub.params.values())
    return case.id().split(".")[-1] + suffix
