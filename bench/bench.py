#!/usr/bin/env python3
"""Strellan's benchmark: two tables, measured side by side in one run.

Start-up and memory, for Strellan on Linux: start-up to window mapped, and
to the window and the synthesizer's stream at the sound server (the
SoundFont loaded); resident memory after start-up (with the pitch cache
warm, and empty) and after 100 Plays. The same, where they apply, for the
fluidsynth command-line program on the same SoundFont, and start-up to
window for strellan.exe under Wine.

Sound, for Strellan and for the fluidsynth program, each on PulseAudio and
on PipeWire (with pipewire-pulse): dropouts per minute of sound, with the
machine quiet and with every core kept busy (the eight strings struck in
turn, each note searched for gaps and jumps as the sound tests search
it); the way from a Play to the first audible sample after silence
(median and worst of 20; Strellan's stream is paused then) and while a
note still sounds; CPU while a note sounds and while silent (10 s each);
the worst first Play of a string with the pitch cache empty; and the worst
pitch error of the eight strings. The fluidsynth program plays with no
pitch correction, through its stock PulseAudio driver at its default
periods; its stream never pauses.

Everything runs on a private Xvfb and private sound servers with a null
sink, as in the end-to-end tests, with the program's cache under
build/bench. Clicks go straight to the X server (XTEST) on the bench's own
connection, so the moment a click acts (the button's release) is known;
a latency runs from then to the arrival of the recorded block that holds
the first audible sample, so it also counts the recorder's own delivery:
an upper bound. A note struck again while it sounds (0.9 s on, some
5 dB below its attack) is found where the level first rises 3 dB above the
loudest of the 50 ms before the click.
Progress goes to standard error; the tables to standard output.
"""

import os
import shutil
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

import audio  # noqa: E402
import harness  # noqa: E402
import layout  # noqa: E402
import numpy  # noqa: E402
from harness import wait_for  # noqa: E402
from Xlib import X  # noqa: E402
from Xlib import display as xdisplay  # noqa: E402
from Xlib.ext import xtest  # noqa: E402

ROOT = os.path.abspath(os.path.join(HERE, ".."))
LINUX = os.path.join(ROOT, "build", "linux", "strellan")
RES = os.path.join(ROOT, "build", "linux", "strellan.res")
EXE = os.path.join(ROOT, "build", "windows-x86", "strellan.exe")
SOUNDFONT = "/usr/share/sounds/sf2/TimGM6mb.sf2"
STRINGS = layout.reference_strings()
NOTE_SECONDS = 1.65  # a string's note as the sound tests measure it
DROPOUT_SECONDS = 40  # of notes, quiet and again loaded


def say(text):
    print(f"bench: {text}", file=sys.stderr, flush=True)


def cpu_percent(pid, seconds=10.0, strike=None):
    """Of one core, averaged over the period, threads included; strike()
    called every second when given."""
    c0, t0 = harness.cpu_seconds(pid), time.monotonic()
    for _ in range(int(seconds)):
        if strike:
            strike()
        time.sleep(1.0)
    return 100.0 * (harness.cpu_seconds(pid) - c0) / (time.monotonic() - t0)


def wait_silent(rec, seconds):
    n = int(seconds * audio.RATE)
    wait_for(lambda: rec.frames() > n and audio.peak_dbfs(rec.samples(rec.frames() - n)) < -100,
             "silence", timeout=30)


def strike(rec, trigger, seconds=0.0):
    """trigger() returns the moment it acted; the time from then to the
    first audible sample, and the note's samples from there for seconds."""
    mark = rec.frames()
    acted = trigger()
    start = wait_for(lambda: rec.onset(mark), "the note")
    rec.wait_for_frames(start + int(seconds * audio.RATE), "the note's length")
    return rec.time_of(start) - acted, rec.samples(start, start + int(seconds * audio.RATE))


def strike_over(rec, trigger):
    """The time from trigger() to a new note rising over one that sounds."""
    mark = rec.frames()
    before = float(numpy.max(numpy.abs(rec.samples(mark - audio.RATE // 20, mark))))
    acted = trigger()
    start = wait_for(lambda: rec.onset(mark, 1.4 * before),
                     "the new note")
    return rec.time_of(start) - acted


def pitch_error(samples, note):
    f = audio.fundamental(samples[int(0.15 * audio.RATE):])
    return audio.cents(f, audio.equal_temperament(note))


class Clicker:
    """Clicks through XTEST on the bench's own connection: no program to
    start, and the moment of the release known."""

    def __init__(self, x):
        self.d = x.conn

    def click(self, point):
        self.d.screen().root.warp_pointer(*point)
        self.d.sync()
        xtest.fake_input(self.d, X.ButtonPress, 1)
        self.d.sync()
        xtest.fake_input(self.d, X.ButtonRelease, 1)
        self.d.sync()
        return time.monotonic()


class StartWatch:
    """Start-up, timed by events rather than by asking: the X server's
    MapNotify for a new top-level window, and the sound server's event for a
    new stream (pactl subscribe), each stamped as it arrives."""

    def __init__(self, x, env=None):
        self.conn = xdisplay.Display(x.name)
        self.conn.screen().root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.conn.sync()
        self.streams = []
        self.pactl = None
        if env is not None:
            self.pactl = subprocess.Popen(["pactl", "subscribe"], env=env, text=True,
                                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            threading.Thread(target=self._read_pactl, daemon=True).start()

    def _read_pactl(self):
        for line in self.pactl.stdout:
            if "'new' on sink-input" in line:
                self.streams.append(time.monotonic())

    def mapped_after(self, t0, timeout):
        deadline = t0 + timeout
        while time.monotonic() < deadline:
            while self.conn.pending_events():
                if self.conn.next_event().type == X.MapNotify:
                    return time.monotonic()
            time.sleep(0.0005)
        raise AssertionError("no window mapped")

    def stream_after(self, t0, timeout=30):
        wait_for(lambda: any(t > t0 for t in self.streams), "a stream", timeout=timeout,
                 interval=0.001)
        return min(t for t in self.streams if t > t0)

    def close(self):
        if self.pactl:
            self.pactl.terminate()
            self.pactl.wait()
        self.conn.close()


def time_to_window(x, argv, cwd, env, runs, timeout=harness.START_TIMEOUT, sound=False):
    """Spawn to the window mapped, and (with sound) to the synthesizer's
    stream at the sound server too: medians of runs."""
    watch = StartWatch(x, env if sound else None)
    windows, ready = [], []
    try:
        for _ in range(runs):
            t0 = time.monotonic()
            proc = subprocess.Popen(argv, cwd=cwd, env=env, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
            mapped = watch.mapped_after(t0, timeout)
            windows.append(mapped - t0)
            if sound:
                ready.append(max(mapped, watch.stream_after(t0)) - t0)
            w = wait_for(lambda: x.find_windows("Strellan"), "the window", timeout=timeout)[0]
            x.send_delete_window(w)
            proc.wait(timeout=120)
            wait_for(lambda: not x.find_windows("Strellan"), "the window to go", timeout=30)
    finally:
        watch.close()
    return statistics.median(windows), (statistics.median(ready) if sound else None)


class Strellan:
    """One run of the Linux program, through the harness; its clicks timed."""

    def __init__(self, x, env, name):
        self.run = harness.Run(x, harness.Layout(layout.template_from_res(RES)), name,
                               harness.launcher([LINUX], x, env), log=False)
        self.pid = self.run.proc.pid
        self.clicker = Clicker(x)

    def click(self, name):
        return self.clicker.click(self.run.point(name))

    def choose(self, string):
        self.click(string)

    def play(self):
        return self.click("Play")

    def stop(self):
        self.click("Stop")

    def exit(self):
        self.run.x_server.send_delete_window(self.run.window)
        self.run.proc.wait(timeout=60)


class FluidSynth:
    """The stock fluidsynth program, fed on its command line, as Strellan
    plays: the guitar, a note at full velocity, All Notes Off."""

    def __init__(self, env):
        self.proc = subprocess.Popen(
            ["fluidsynth", "-q", "-a", "pulseaudio", "-g", "1.25", "-o", "shell.prompt=",
             SOUNDFONT], env=env, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, text=True)
        self.pid = self.proc.pid
        self.note = 40
        self.send("prog 0 26")
        time.sleep(1.0)

    def send(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        return time.monotonic()

    def choose(self, string):
        self.note = layout_note(string)

    def play(self):
        return self.send(f"noteon 0 {self.note} 127")

    def stop(self):
        self.send("cc 0 123 0")

    def exit(self):
        self.send("quit")
        self.proc.wait(timeout=60)


def layout_note(pitch):
    return next(s.note for s in STRINGS if s.pitch == pitch)


def strings_played(player, rec):
    """Each string struck once: the worst first-strike latency, the worst
    pitch error, and the dropouts heard."""
    lat, errors, dropouts = [], [], 0
    for s in STRINGS:
        player.choose(s.pitch)
        wait_silent(rec, 0.3)
        latency, note = strike(rec, player.play, NOTE_SECONDS)
        lat.append(latency)
        errors.append(pitch_error(note, s.note))
        dropouts += len(audio.dropouts(note))
        player.stop()
    say("  first strikes: " + ", ".join(f"{s.pitch} {t * 1000:.1f} ms {e:+.2f} cents"
                                       for s, t, e in zip(STRINGS, lat, errors)))
    return max(lat), max(errors, key=abs), dropouts


def dropouts_per_minute(player, rec):
    """The eight strings in turn for DROPOUT_SECONDS of notes."""
    found, notes = 0, 0
    while notes * NOTE_SECONDS < DROPOUT_SECONDS:
        s = STRINGS[notes % len(STRINGS)]
        player.choose(s.pitch)
        wait_silent(rec, 0.2)
        found += len(audio.dropouts(strike(rec, player.play, NOTE_SECONDS)[1]))
        player.stop()
        notes += 1
    return 60.0 * found / (notes * NOTE_SECONDS)


def bench_sound(player, rec, row):
    """The sound figures of one program on one server, into row."""
    _, row["pitch_worst"], _ = strings_played(player, rec)
    say("  dropouts, quiet")
    row["drop_quiet"] = dropouts_per_minute(player, rec)
    say("  dropouts, every core busy")
    with harness.cores_kept_busy():
        row["drop_loaded"] = dropouts_per_minute(player, rec)
    say("  Play->sound after silence, and while a note sounds")
    player.choose("E2")
    after, over = [], []
    for _ in range(20):
        wait_silent(rec, 0.4)
        after.append(strike(rec, player.play, 0.9)[0])
        over.append(strike_over(rec, player.play))
        player.stop()
    row["lat_median"], row["lat_worst"] = statistics.median(after), max(after)
    row["over_median"], row["over_worst"] = statistics.median(over), max(over)
    say("  CPU")
    row["cpu_sound"] = cpu_percent(player.pid, strike=player.play)
    player.stop()
    wait_silent(rec, 1.0)
    row["cpu_silent"] = cpu_percent(player.pid)


def bench_server(x, sound, first):
    """Strellan and fluidsynth on one sound server: two rows. With first,
    the start-up and memory figures and the empty cache's first strikes."""
    env = dict(os.environ, DISPLAY=x.name, XDG_CACHE_HOME=os.path.join(harness.build_dir(),
                                                                         "cache"), **sound.env())
    rec = sound.record(os.path.join(harness.build_dir(), f"{sound.name}.f32"))
    strellan, fluid = {}, {}
    try:
        if first:
            say(f"Strellan on {sound.name}: the first run, the pitch cache empty")
            shutil.rmtree(env["XDG_CACHE_HOME"], ignore_errors=True)
            run = Strellan(x, env, "bench-cold")
            time.sleep(0.5)  # start-up settles
            strellan["rss_start_cold"] = harness.rss_mib(run.pid)
            strellan["lat_first_cold"], _, _ = strings_played(run, rec)
            run.exit()
            say("Strellan: start-up to window and to the SoundFont loaded")
            strellan["start"], strellan["ready"] = time_to_window(x, [LINUX], ROOT, env, 10,
                                                                  sound=True)
        say(f"Strellan on {sound.name}")
        run = Strellan(x, env, "bench-warm")
        time.sleep(0.5)
        strellan["rss_start"] = harness.rss_mib(run.pid)
        bench_sound(run, rec, strellan)
        for _ in range(100):
            run.play()
        time.sleep(0.5)
        strellan["rss_100"] = harness.rss_mib(run.pid)
        run.exit()

        say(f"fluidsynth on {sound.name}")
        player = FluidSynth(env)
        fluid["rss_start"] = harness.rss_mib(player.pid)
        bench_sound(player, rec, fluid)
        for _ in range(100):
            player.play()
        time.sleep(0.5)
        fluid["rss_100"] = harness.rss_mib(player.pid)
        player.exit()
    finally:
        rec.stop()
    return strellan, fluid


def bench_wine(x):
    say("strellan.exe under Wine: start-up to window")
    # The end-to-end tests' prefix, made once and kept.
    wine = harness.Wine(x, os.path.join(ROOT, "build", "windows-x86", "wine-prefix"))
    wine.ensure_prefix()
    folder = os.path.join(harness.build_dir(), "bench-wine")
    os.makedirs(folder, exist_ok=True)
    shutil.copy(EXE, folder)
    try:
        return {"start": time_to_window(x, ["wine", "strellan.exe"], folder, wine.env(), 3,
                                        timeout=300)[0]}
    finally:
        wine.shutdown()


def fmt(value, unit, scale=1.0, digits=1, signed=False):
    if value is None:
        return "n/a"
    return f"{value * scale:{'+' if signed else ''}.{digits}f} {unit}"


def table(rows, cols):
    print("| | " + " | ".join(c[0] for c in cols) + " |")
    print("|---" * (len(cols) + 1) + "|")
    for name, row in rows:
        print(f"| {name} | " + " | ".join(fmt(row.get(key), unit, scale, digits, signed)
                                          for _, key, unit, scale, digits, signed in cols)
              + " |")
    print()


def main():
    os.environ["STRELLAN_BUILD_DIR"] = os.path.join(ROOT, "build", "bench")
    os.makedirs(harness.build_dir(), exist_ok=True)
    x = harness.XServer().start()
    sound_rows, start_rows = [], []
    try:
        for server in [harness.PulseAudio(), harness.PipeWire()]:
            server.start()
            try:
                strellan, fluid = bench_server(x, server, first=not sound_rows)
            finally:
                server.stop()
            sound_rows += [(f"Strellan, {server.name}", strellan),
                           (f"fluidsynth CLI, {server.name}", fluid)]
            if len(start_rows) == 0:
                start_rows = [("Strellan (Linux)", strellan), ("fluidsynth CLI", fluid)]
        if "--no-wine" not in sys.argv:
            start_rows.append(("strellan.exe (Wine)", bench_wine(x)))
    finally:
        x.stop()

    table(start_rows, [
        ("start-up to window", "start", "ms", 1000, 0, False),
        ("start-up to window + SoundFont loaded", "ready", "ms", 1000, 0, False),
        ("RSS at start", "rss_start", "MiB", 1, 1, False),
        ("RSS at start, cache empty", "rss_start_cold", "MiB", 1, 1, False),
        ("RSS after 100 Plays", "rss_100", "MiB", 1, 1, False)])
    table(sound_rows, [
        ("dropouts per minute, quiet", "drop_quiet", "", 1, 1, False),
        ("dropouts per minute, cores busy", "drop_loaded", "", 1, 1, False),
        ("Play->sound after silence, median", "lat_median", "ms", 1000, 1, False),
        ("worst", "lat_worst", "ms", 1000, 1, False),
        ("Play->sound while a note sounds, median", "over_median", "ms", 1000, 1, False),
        ("worst", "over_worst", "ms", 1000, 1, False),
        ("first Play->sound worst, cache empty", "lat_first_cold", "ms", 1000, 1, False),
        ("CPU sounding", "cpu_sound", "%", 1, 2, False),
        ("CPU silent", "cpu_silent", "%", 1, 2, False),
        ("worst pitch error of the 8 strings", "pitch_worst", "cents", 1, 2, True)])


if __name__ == "__main__":
    main()
