"""The real Linux program against what a desktop does to it: a sound server
that hangs, restarts or dies mid-note, a SoundFont that is broken, no
display at all. Each on a private sound server with a null sink whose
monitor is recorded: PulseAudio, or PipeWire (STRELLAN_SOUND_SERVER), where
pipewire-pulse may restart alone or with pipewire and WirePlumber.
"""

import os
import shutil
import subprocess
import sys
import time
import unittest

import audio
import harness
import scenarios
from harness import wait_for

LINUX = os.environ.get("STRELLAN_LINUX", "")
SOUNDFONT_DIR = "/usr/share/sounds/sf2"

x_server = None
LAYOUT = None


def setUpModule():
    global x_server, LAYOUT
    x_server, LAYOUT = harness.set_up_module()


class Faults(unittest.TestCase):
    def setUp(self):
        self.sound = harness.sound_server()
        self.addCleanup(self.sound.stop)

    def start(self, argv=None, stderr_name="stderr.txt", sound=True):
        launch = harness.launcher(argv or [LINUX], x_server, self.sound.env(), stderr_name)
        run = harness.Run(x_server, LAYOUT, f"faults-{self.sound.name}-" + scenarios.test_id(self),
                          launch, log=False)
        self.stderr_path = os.path.join(run.dir, stderr_name)
        self.addCleanup(run.kill)
        if sound:
            self.sound.wait_for_stream()
        return run

    def stderr(self):
        with open(self.stderr_path) as f:
            return f.read()

    def record(self, name="sound"):
        rec = self.sound.record(os.path.join(
            harness.build_dir(), "e2e",
            f"faults-{self.sound.name}-{scenarios.test_id(self)}-{name}.f32"))
        self.addCleanup(rec.stop)
        return rec

    def assert_plays_in_tune(self, run, rec, string="E2"):
        """Play sounds the string, in tune and clean, within the usual wait;
        the time from the click to the sound."""
        mark = rec.frames()
        clicked = time.monotonic()
        run.click("Play")
        start = wait_for(lambda: rec.onset(mark), "the note to sound")
        heard = rec.time_of(start) - clicked
        rec.wait_for_frames(start + int(1.3 * audio.RATE), "the note to be recorded")
        note = harness.assert_clean(self, self.sound, rec, string, start, int(1.3 * audio.RATE))
        f = audio.fundamental(note[int(0.3 * audio.RATE):])
        expected = audio.equal_temperament(LAYOUT.by_pitch[string].note)
        self.assertLess(abs(audio.cents(f, expected)), 3.0, f"{f:.2f} Hz for {string}")
        return heard

    def test_a_frozen_server_delays_the_window_at_most_briefly(self):
        self.sound.start()
        self.sound.freeze()
        spawned = time.monotonic()
        run = self.start(sound=False)
        # Exit, 0.3 s after the window appears: answered once the open has
        # given up on the server.
        appeared = time.monotonic()
        wait_for(lambda: time.monotonic() > appeared + 0.3, "0.3 s", interval=0.01)
        run.click("Exit")
        self.assertEqual(run.wait_exit(), 0)
        ended = time.monotonic() - spawned
        print(f"\nfrozen server: Exit clicked 0.3 s after the window, ended {ended:.2f} s "
              "after the start", file=sys.stderr)
        self.assertLess(ended, 3.5, f"ended {ended:.2f} s after its start")
        self.assertEqual(run.stdout(), scenarios.FAILURE_LINE)
        self.assertIn("did not answer", self.stderr())

    def test_sound_comes_back_after_the_server_restarts_at_another_rate(self):
        self.sound.start(rate=48000)
        run = self.start()
        self.assert_plays_in_tune(run, self.record("before"))
        run.click("Stop")

        self.sound.restart(rate=44100)
        up = time.monotonic()
        rec = self.record("after")
        # The first Play after the server is back sounds, in tune.
        run.click("A2")
        heard = self.assert_plays_in_tune(run, rec, "A2")
        print(f"\nrestarted {self.sound.name} (48 to 44.1 kHz): the first Play {time.monotonic() - up:.2f} s "
              f"after it was back, heard within {heard:.2f} s of the click", file=sys.stderr)
        self.assertLess(heard, 3.0)
        run.click("Exit")
        self.assertEqual(run.wait_exit(), 0)
        self.assertEqual(run.stdout(), b"")
        self.assertIn("lost the sound server", self.stderr())

    @unittest.skipUnless(harness.SOUND_SERVER == "pipewire", "PipeWire only")
    def test_sound_comes_back_after_pipewire_pulse_restarts_alone(self):
        self.sound.start()
        run = self.start()
        self.assert_plays_in_tune(run, self.record("before"))
        run.click("Stop")
        self.sound.restart_pulse()
        run.click("G3")
        heard = self.assert_plays_in_tune(run, self.record("after"), "G3")
        print(f"\nrestarted pipewire-pulse: Play heard within {heard:.2f} s of the click",
              file=sys.stderr)
        run.click("Exit")
        self.assertEqual(run.wait_exit(), 0)
        self.assertIn("lost the sound server", self.stderr())

    def test_a_server_killed_mid_note_leaves_a_working_silent_window(self):
        self.sound.start()
        run = self.start()
        rec = self.record("before")
        run.click("Play")
        wait_for(lambda: rec.onset(), "the note to sound")
        rec.stop()
        self.sound.kill()

        # No server: Play and Stop go through at once and silently, and
        # nothing is left running while the window waits.
        for control in ["Play", "Stop", "B1", "Play"]:
            run.click(control)
        wait_for(lambda: "lost the sound server" in self.stderr(), "the loss to be said")
        # What the loss set going (the effects rung out) ends; after that
        # nothing runs.
        last = [harness.cpu_seconds(run.proc.pid), time.monotonic()]

        def settled():
            now = harness.cpu_seconds(run.proc.pid), time.monotonic()
            if now[1] - last[1] < 0.5:
                return False
            quiet = now[0] - last[0] < 0.01
            last[:] = now
            return quiet
        wait_for(settled, "the measuring to end", timeout=30)
        self.assertLess(harness.cpu_over(run.proc.pid, 2), 0.02, "CPU while nothing sounds")
        self.assertEqual(self.stderr().count("lost the sound server"), 1, self.stderr())

        # A server again: Play sounds.
        self.sound.start()
        heard = self.assert_plays_in_tune(run, self.record("after"), "B1")
        print(f"\nkilled server, started again: Play heard within {heard:.2f} s", file=sys.stderr)
        run.click("Exit")
        self.assertEqual(run.wait_exit(), 0)
        self.assertEqual(run.stdout(), b"")

    @unittest.skipUnless(shutil.which("unshare"), "no unshare")
    @unittest.skipIf(harness.SOUND_SERVER == "pipewire",
                     "the sound server has no part in it: tried on PulseAudio")
    def test_a_broken_first_soundfont_falls_back_to_the_next(self):
        """In a mount namespace of its own, the first SoundFont on the search
        path is cut short and a good one sits further down the path."""
        self.sound.start()
        folder = os.path.join(harness.build_dir(), "e2e", f"faults-soundfonts-{self.sound.name}")
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        first = os.path.join(SOUNDFONT_DIR, "TimGM6mb.sf2")
        with open(first, "rb") as f, open(os.path.join(folder, "TimGM6mb.sf2"), "wb") as cut:
            cut.write(f.read(4096))
        shutil.copy(first, os.path.join(folder, "FluidR3_GM.sf2"))
        mounts = f"mount --bind {folder} {SOUNDFONT_DIR} && exec {LINUX}"
        user = [] if os.geteuid() == 0 else ["--map-root-user"]
        probe = subprocess.run(["unshare", "--mount", *user, "true"], capture_output=True)
        if probe.returncode != 0:
            self.skipTest("no private mount namespace here: " + probe.stderr.decode().strip())

        run = self.start(["unshare", "--mount", *user, "sh", "-c", mounts])
        self.assert_plays_in_tune(run, self.record())
        run.click("Exit")
        self.assertEqual(run.wait_exit(), 0)
        self.assertEqual(run.stdout(), b"")
        self.assertEqual(self.stderr(), f"strellan: cannot load the SoundFont {first}; "
                                        "trying the next\n")

    @unittest.skipIf(harness.SOUND_SERVER == "pipewire",
                     "the sound server has no part in it: tried on PulseAudio")
    def test_no_display_is_a_failure_with_one_line(self):
        self.sound.start()
        env = harness.program_env(dict(DISPLAY=":987", **self.sound.env()))
        done = subprocess.run([LINUX], env=env, capture_output=True,
                              timeout=harness.START_TIMEOUT)
        self.assertNotEqual(done.returncode, 0)
        self.assertEqual(done.stdout, b"")
        self.assertEqual(done.stderr.decode(), 'strellan: cannot open X display ":987"\n')


if __name__ == "__main__":
    unittest.main()
