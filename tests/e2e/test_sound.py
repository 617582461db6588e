"""What the Linux program really sounds (with no sound at all, see
test_linux.NoDevice): the real program on a private sound server with a
null sink, its monitor recorded and analysed as a guitarist listens.
STRELLAN_SOUND_SERVER names the server: PulseAudio, or PipeWire with
pipewire-pulse, as Debian's desktops run it.

A reference tone is only useful if it is in tune and clean: every string's
fundamental, from 150 ms to 1.65 s after its attack, must lie within half
a cent of equal temperament (A4 = 440 Hz), from the first Play with nothing
measured yet and again with the pitch cache warm, on a sink at 48 kHz and
at 44.1 kHz; and no note that is recorded may hold a dropout, a gap of
silence or a jump in its waveform, with the machine quiet or its cores
kept busy. PipeWire's own lost graph cycles are excused (harness.assert_clean),
as many as it loses while the cores are busy; PulseAudio loses none, so it
is there that the program's own buffering is judged on a busy machine.
"""

import os
import shutil
import subprocess
import sys
import unittest

import numpy

import audio
import harness
import scenarios
from harness import wait_for

LINUX = os.environ.get("STRELLAN_LINUX", "")

x_server = None
sound = None
LAYOUT = None


IN_TUNE_CENTS = 0.5


def cache_dir():
    """The program's XDG cache for these tests, never the user's."""
    return os.path.join(harness.build_dir(), "e2e", f"sound-cache-{harness.SOUND_SERVER}")


def setUpModule():
    global x_server, sound, LAYOUT
    x_server, LAYOUT = harness.set_up_module()
    sound = harness.sound_server().start()
    unittest.addModuleCleanup(sound.stop)


class Sounding(unittest.TestCase):
    def start(self):
        launch = harness.launcher([LINUX], x_server, dict(XDG_CACHE_HOME=cache_dir(), **sound.env()))
        run = harness.Run(x_server, LAYOUT, f"sound-{sound.name}-" + scenarios.test_id(self),
                          launch, log=False)
        self.addCleanup(run.kill)
        sound.wait_for_stream()
        return run

    def record(self):
        rec = sound.record(os.path.join(harness.build_dir(), "e2e",
                                        f"sound-{sound.name}-{scenarios.test_id(self)}.f32"))
        self.addCleanup(rec.stop)
        return rec

    def play_and_measure(self, run, rec, name, seconds=1.6):
        """Clicks Play and returns the note's samples from its onset on,
        which must hold no dropout."""
        mark = rec.frames()
        run.click("Play")
        start = wait_for(lambda: rec.onset(mark), f"{name} to sound")
        rec.wait_for_frames(start + int(seconds * audio.RATE), f"{name} to be recorded")
        return harness.assert_clean(self, sound, rec, name, start, int(seconds * audio.RATE))

    def measure_every_string(self):
        """Each string played once: (pitch name, Hz, cents off, peak dBFS)."""
        rec = self.record()
        run = self.start()
        results = []
        for s in LAYOUT.strings:
            run.click(s.pitch)
            note_samples = self.play_and_measure(run, rec, s.pitch, seconds=1.65)
            run.click("Stop")
            wait_for(lambda: audio.peak_dbfs(rec.samples(rec.frames() - audio.RATE // 20)) < -100,
                     "silence after Stop")
            f = audio.fundamental(note_samples[int(0.15 * audio.RATE):])
            ref = audio.equal_temperament(s.note)
            results.append((s.pitch, f, audio.cents(f, ref), audio.peak_dbfs(note_samples)))
        run.click("Exit")
        self.assertEqual(run.wait_exit(), 0)
        self.assertEqual(run.stdout(), b"")
        rec.stop()
        return results

    def check_every_string(self, heading):
        results = self.measure_every_string()
        report = "\n".join(f"  {s:4} {f:8.3f} Hz {c:+6.2f} cents peak {p:+6.1f} dBFS"
                           for s, f, c, p in results)
        print(f"\n{sound.name}, {heading}:\n{report}", file=sys.stderr)
        for string, f, c, p in results:
            self.assertLessEqual(abs(c), IN_TUNE_CENTS, f"{string}\n{report}")
            self.assertTrue(-12.0 <= p <= -3.0, f"{string} level\n{report}")

    def test_every_string_in_tune_with_the_cache_empty_then_warm_at_48_and_44_1_khz(self):
        for rate in [48000, 44100]:
            sound.stop()
            sound.start(rate=rate)
            shutil.rmtree(cache_dir(), ignore_errors=True)
            for cache in ["empty", "warm"]:
                with self.subTest(rate=rate, cache=cache):
                    # Each pass is a run of its own, as long as the others'
                    # tests: the server may lose a cycle in each.
                    self.cycle_excused = False
                    self.check_every_string(f"{rate} Hz sink, cache {cache}")
                    # What was measured is kept for the next run.
                    self.assertTrue(os.listdir(os.path.join(cache_dir(), "strellan")))

    def test_every_string_clean_and_in_tune_with_both_cores_busy(self):
        with harness.cores_kept_busy():
            self.check_every_string(f"{os.cpu_count()} cores kept busy")

    @unittest.skipIf(os.environ.get("STRELLAN_SANITIZED"),
                     "pacat is no part of this build: the plain build's suite hears it")
    def test_the_control_pacat_hears_only_what_the_server_drops(self):
        """What this machine's server does to a client that is not Strellan:
        pacat, with its long buffer, playing a steady tone for 20 s. The
        dropouts heard here are the only ones the other tests excuse."""
        rec = self.record()
        tone = os.path.join(harness.build_dir(), "e2e", f"control-tone-{sound.name}.f32")
        t = numpy.arange(20 * audio.RATE) / audio.RATE
        numpy.repeat(0.3 * numpy.sin(2 * numpy.pi * 220 * t), 2).astype(numpy.float32).tofile(tone)
        mark = rec.frames()
        subprocess.run(["pacat", "--format=float32le", f"--rate={audio.RATE}", "--channels=2",
                        "--raw", tone], env=dict(os.environ, **sound.env()), check=True,
                       timeout=60)
        start = rec.onset(mark)
        rec.wait_for_frames(start + 20 * audio.RATE, "the tone to be recorded")
        found = audio.dropouts(rec.samples(start, start + 20 * audio.RATE - audio.RATE // 10))
        print(f"\n{sound.name}, pacat's 20 s tone: "
              f"{audio.describe_dropouts('dropouts', found) if found else 'no dropout'}",
              file=sys.stderr)
        self.assertEqual([d for d in found if d not in sound.excused(found)], [],
                         audio.describe_dropouts(f"pacat's tone in {rec.path}", found))

    def test_a_radio_click_alone_sounds_nothing(self):
        rec = self.record()
        run = self.start()
        mark = rec.frames()
        for string in ["A2", "E4", "F#1"]:
            run.click(string)
        # A wrong sound would start within milliseconds: a second of the
        # recording after the clicks must hold none.
        rec.wait_for_frames(rec.frames() + audio.RATE, "a second of recording after the clicks")
        self.assertIsNone(rec.onset(mark))
        # The clicks did land: Play sounds the last string chosen.
        note = self.play_and_measure(run, rec, "F#1")
        f = audio.fundamental(note[int(0.3 * audio.RATE):])
        self.assertLess(abs(audio.cents(f, audio.equal_temperament(LAYOUT.by_pitch["F#1"].note))),
                        50)
        run.click("Exit")
        self.assertEqual(run.wait_exit(), 0)

    def test_stop_silences_the_note(self):
        rec = self.record()
        run = self.start()
        peak = audio.peak_dbfs(self.play_and_measure(run, rec, "E2", seconds=1.0))
        stop_at = rec.frames()
        run.click("Stop")
        # Heard once what the server holds has played (a tenth of a second),
        # then the note's release.
        rec.wait_for_frames(stop_at + int(0.6 * audio.RATE), "0.6 s after Stop")
        after = rec.samples(stop_at + int(0.4 * audio.RATE), stop_at + int(0.6 * audio.RATE))
        self.assertLessEqual(audio.peak_dbfs(after), peak - 45,
                             f"note peak {peak:.1f} dBFS, 400 ms after Stop "
                             f"{audio.peak_dbfs(after):.1f} dBFS")
        run.click("Exit")
        self.assertEqual(run.wait_exit(), 0)

    def test_every_way_of_ending_exits_0_and_leaves_no_sound(self):
        for way, end in scenarios.ways_of_ending(x_server).items():
            with self.subTest(way=way):
                rec = self.record()
                run = self.start()
                self.play_and_measure(run, rec, "E2", seconds=0.3)
                end(run)
                self.assertEqual(run.wait_exit(), 0)
                ended = rec.frames()
                rec.wait_for_frames(ended + int(0.8 * audio.RATE), "a while after the end")
                tail = rec.samples(ended + int(0.3 * audio.RATE))
                self.assertLess(audio.peak_dbfs(tail), -80, way)


if __name__ == "__main__":
    unittest.main()
