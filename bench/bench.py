#!/usr/bin/env python3
"""Strellan's benchmark: one table, measured side by side in one run.

For Strellan on Linux: start-up to window mapped, and to the window and
the synthesizer's stream at the sound server (the SoundFont loaded);
resident memory after start-up (with the pitch cache warm, and empty) and
after 100 Plays; CPU while a note sounds and while silent (10 s each); the
way from a Play click to the first audible sample at the sound server
(median and worst of 20, cache warm; and the worst first Play of each
string with the cache empty); and the worst pitch error of the eight
strings. The same figures, where they apply, for the fluidsynth
command-line program on the same SoundFont and sound server, with no
correction. And start-up to window for strellan.exe under Wine.

Everything runs on a private Xvfb and a private PulseAudio null sink, as in
the end-to-end tests, with the program's cache under build/bench. Clicks go
straight to the X server (XTEST) and the sink's monitor is read as it comes,
each block timed as it arrives; a latency runs from the button's release
(when a click acts) to the arrival of the block that holds the first
audible sample, so it also counts the recorder's own delivery: an upper
bound.
Progress goes to standard error; the table to standard output.
"""

import bisect
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
EXE = os.path.join(ROOT, "build", "windows-x86", "strellan.exe")
SOUNDFONT = "/usr/share/sounds/sf2/TimGM6mb.sf2"
CLK_TCK = os.sysconf("SC_CLK_TCK")
STRINGS = layout.reference_strings()


def say(text):
    print(f"bench: {text}", file=sys.stderr, flush=True)


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def cpu_percent(pid, seconds=10.0):
    """Of one core, averaged over the period, threads included."""
    c0, t0 = cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    return 100.0 * (cpu_seconds(pid) - c0) / (time.monotonic() - t0)


def rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return float("nan")


class LiveRecording:
    """The sink's monitor, read as it arrives: the samples, and for each
    block the moment it came, so that a sample has a time. Only recent
    samples are ever put together, so that reading them stays quick and
    never holds up the reader."""

    BLOCK = 64  # frames a read: 1.3 ms

    def __init__(self, sound):
        self.proc = subprocess.Popen(
            ["parec", "--device=strellan.monitor", "--format=float32le",
             f"--rate={audio.RATE}", "--channels=1", "--raw", "--latency-msec=1"],
            env=dict(os.environ, **sound.env()), stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)
        self.blocks, self.ends, self.arrived = [], [], []
        self.lock = threading.Lock()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        wait_for(lambda: self.frames() > 0, "the recording to start", timeout=30)

    def _read(self):
        total = 0
        while True:
            data = self.proc.stdout.read(self.BLOCK * 4)
            if not data:
                return
            now = time.monotonic()
            block = numpy.frombuffer(data, dtype=numpy.float32)
            total += len(block)
            with self.lock:
                self.blocks.append(block)
                self.ends.append(total)
                self.arrived.append(now)

    def frames(self):
        with self.lock:
            return self.ends[-1] if self.ends else 0

    def since(self, index):
        """The samples from index on (index counts from the start)."""
        with self.lock:
            first = bisect.bisect_right(self.ends, index)
            blocks = self.blocks[first:]
            begin = self.ends[first - 1] if first else 0
        if not blocks:
            return numpy.zeros(0, dtype=numpy.float32)
        return numpy.concatenate(blocks)[index - begin:]

    def time_of(self, index):
        """When the sample at index reached the recorder: the arrival of the
        block it came in. The server renders in bursts, so no finer time can
        be told; it is no earlier than the sound was made."""
        with self.lock:
            at = bisect.bisect_right(self.ends, index)
            return self.arrived[at] if at < len(self.arrived) else float("nan")

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=30)


def wait_silent(rec, seconds):
    n = int(seconds * audio.RATE)
    wait_for(lambda: rec.frames() > n and audio.peak_dbfs(rec.since(rec.frames() - n)) < -100,
             "silence", timeout=30)


def strike(rec, trigger, seconds=0.0):
    """trigger() returns the moment it acted; the time from then to the
    first audible sample, and the note's samples from there for seconds."""
    mark = rec.frames()

    def onset():
        found = audio.onset(rec.since(mark))
        return None if found is None else mark + found
    acted = trigger()
    start = wait_for(onset, "the note")
    wait_for(lambda: rec.frames() >= start + int(seconds * audio.RATE), "the note's length")
    return rec.time_of(start) - acted, rec.since(start)[:int(seconds * audio.RATE)]


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
        self.x = x
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
                e = self.conn.next_event()
                if e.type == X.MapNotify:
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
    """One run of the Linux program, its controls found by the template."""

    def __init__(self, x, env):
        self.x = x
        self.proc = subprocess.Popen([LINUX], cwd=ROOT, env=env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        self.window = wait_for(lambda: x.find_windows("Strellan"), "the window")[0]
        self.gx, self.gy, self.width, self.height = x.geometry(self.window)
        self.layout = harness.Layout(layout.template_from_res(
            os.path.join(ROOT, "build", "linux", "strellan.res")))
        self.clicker = Clicker(x)

    def point(self, name):
        du_x, du_y = self.layout.control(name).centre()
        t = self.layout.template
        return (self.gx + round(du_x * self.width / t.cx),
                self.gy + round(du_y * self.height / t.cy))

    def click(self, name):
        return self.clicker.click(self.point(name))

    def exit(self):
        self.x.send_delete_window(self.window)
        self.proc.wait(timeout=60)


def strings_played(run, rec):
    """Each string struck once: the worst first-strike latency and the worst
    pitch error."""
    lat, errors = [], []
    for s in STRINGS:
        run.click(s.pitch)
        wait_silent(rec, 0.3)
        latency, note = strike(rec, lambda: run.click("Play"), 1.65)
        lat.append(latency)
        errors.append(pitch_error(note, s.note))
        run.click("Stop")
    say("  first strikes: " + ", ".join(f"{s.pitch} {t * 1000:.1f} ms {e:+.2f} cents"
                                       for s, t, e in zip(STRINGS, lat, errors)))
    return max(lat), max(errors, key=abs)


def bench_strellan(x, sound, env):
    row = {}
    cache = os.path.join(harness.build_dir(), "cache")
    env = dict(env, XDG_CACHE_HOME=cache)
    rec = LiveRecording(sound)

    say("Strellan: the first run, the pitch cache empty")
    shutil.rmtree(cache, ignore_errors=True)
    run = Strellan(x, env)
    time.sleep(0.5)  # start-up settles
    row["rss_start_cold"] = rss_mib(run.proc.pid)
    row["lat_first_cold"], _ = strings_played(run, rec)
    run.exit()

    say("Strellan: start-up to window and to the SoundFont loaded")
    row["start"], row["ready"] = time_to_window(x, [LINUX], ROOT, env, 10, sound=True)

    say("Strellan: memory, latency, pitch and CPU with the cache warm")
    run = Strellan(x, env)
    time.sleep(0.5)  # start-up settles
    row["rss_start"] = rss_mib(run.proc.pid)
    _, row["pitch_worst"] = strings_played(run, rec)
    run.click("E2")
    lat = []
    for _ in range(20):
        wait_silent(rec, 0.4)
        lat.append(strike(rec, lambda: run.click("Play"))[0])
        run.click("Stop")
    row["lat_median"], row["lat_worst"] = statistics.median(lat), max(lat)

    run.click("Play")
    c0, t0 = cpu_seconds(run.proc.pid), time.monotonic()
    for _ in range(10):
        time.sleep(1.0)
        run.click("Play")
    row["cpu_sound"] = 100.0 * (cpu_seconds(run.proc.pid) - c0) / (time.monotonic() - t0)
    run.click("Stop")
    wait_silent(rec, 1.0)
    row["cpu_silent"] = cpu_percent(run.proc.pid)

    for _ in range(100):
        run.click("Play")
    time.sleep(0.5)
    row["rss_100"] = rss_mib(run.proc.pid)
    run.exit()
    rec.stop()
    return row


def bench_fluidsynth(sound, env):
    """The stock fluidsynth program, its PulseAudio driver at its default
    periods, fed on its command line."""
    row = {"start": None}
    rec = LiveRecording(sound)
    proc = subprocess.Popen(["fluidsynth", "-q", "-a", "pulseaudio", "-g", "1.25", "-o",
                             "shell.prompt=", SOUNDFONT], env=env, stdin=subprocess.PIPE,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, text=True)

    def send(line):
        proc.stdin.write(line + "\n")
        proc.stdin.flush()
        return time.monotonic()

    send("prog 0 26")
    time.sleep(1.0)
    row["rss_start"] = rss_mib(proc.pid)

    say("fluidsynth: pitch")
    errors = []
    for s in STRINGS:
        wait_silent(rec, 0.3)
        _, note = strike(rec, lambda: send(f"noteon 0 {s.note} {s.velocity}"), 1.65)
        errors.append(pitch_error(note, s.note))
        send("cc 0 123 0")
    row["pitch_worst"] = max(errors, key=abs)

    say("fluidsynth: latency and CPU")
    lat = []
    for _ in range(20):
        wait_silent(rec, 0.4)
        lat.append(strike(rec, lambda: send("noteon 0 40 127"))[0])
        send("cc 0 123 0")
    row["lat_median"], row["lat_worst"] = statistics.median(lat), max(lat)

    send("noteon 0 40 127")
    c0, t1 = cpu_seconds(proc.pid), time.monotonic()
    for _ in range(10):
        time.sleep(1.0)
        send("noteon 0 40 127")
    row["cpu_sound"] = 100.0 * (cpu_seconds(proc.pid) - c0) / (time.monotonic() - t1)
    send("cc 0 123 0")
    wait_silent(rec, 1.0)
    row["cpu_silent"] = cpu_percent(proc.pid)
    for _ in range(100):
        send("noteon 0 40 127")
    time.sleep(0.5)
    row["rss_100"] = rss_mib(proc.pid)
    send("quit")
    proc.wait(timeout=60)
    rec.stop()
    return row


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


def main():
    os.environ["STRELLAN_BUILD_DIR"] = os.path.join(ROOT, "build", "bench")
    os.makedirs(harness.build_dir(), exist_ok=True)
    x = harness.XServer().start()
    sound = harness.PulseAudio().start()
    env = dict(os.environ, DISPLAY=x.name, **sound.env())
    try:
        rows = [("Strellan (Linux)", bench_strellan(x, sound, env)),
                ("fluidsynth CLI", bench_fluidsynth(sound, env))]
        if "--no-wine" not in sys.argv:
            rows.append(("strellan.exe (Wine)", bench_wine(x)))
    finally:
        sound.stop()
        x.stop()

    cols = [("start-up to window", "start", "ms", 1000, 0, False),
            ("start-up to window + SoundFont loaded", "ready", "ms", 1000, 0, False),
            ("RSS at start", "rss_start", "MiB", 1, 1, False),
            ("RSS at start, cache empty", "rss_start_cold", "MiB", 1, 1, False),
            ("RSS after 100 Plays", "rss_100", "MiB", 1, 1, False),
            ("CPU sounding", "cpu_sound", "%", 1, 2, False),
            ("CPU silent", "cpu_silent", "%", 1, 2, False),
            ("Play->sound median", "lat_median", "ms", 1000, 1, False),
            ("Play->sound worst", "lat_worst", "ms", 1000, 1, False),
            ("first Play->sound worst, cache empty", "lat_first_cold", "ms", 1000, 1, False),
            ("worst pitch error of the 8 strings", "pitch_worst", "cents", 1, 2, True)]
    print("| | " + " | ".join(c[0] for c in cols) + " |")
    print("|---" * (len(cols) + 1) + "|")
    for name, row in rows:
        print(f"| {name} | " + " | ".join(fmt(row.get(key), unit, scale, digits, signed)
                                          for _, key, unit, scale, digits, signed in cols)
              + " |")


if __name__ == "__main__":
    main()
