#!/usr/bin/env python3
"""Strellan's benchmark: one table, measured side by side in one run.

For Strellan on Linux: start-up to window mapped, resident memory after
start-up and after 100 Plays, CPU while a note sounds and while silent (10 s
each), and the way from the Play click to the first audible sample at the
sound server (median and worst of 20). The same figures, where they apply,
for the fluidsynth command-line program on the same SoundFont and sound
server. And start-up to window for strellan.exe under Wine.

Everything runs on a private Xvfb and a private PulseAudio null sink, as in
the end-to-end tests. The latency is an upper bound: it also counts the
xdotool call and the recorder's own buffering.
"""

import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

import audio  # noqa: E402
import harness  # noqa: E402
import layout  # noqa: E402
from harness import wait_for  # noqa: E402

ROOT = os.path.abspath(os.path.join(HERE, ".."))
LINUX = os.path.join(ROOT, "build", "linux", "strellan")
EXE = os.path.join(ROOT, "build", "windows-x86", "strellan.exe")
SOUNDFONT = "/usr/share/sounds/sf2/TimGM6mb.sf2"
CLK_TCK = os.sysconf("SC_CLK_TCK")


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


def time_to_window(x, argv, cwd, env, runs, timeout=harness.START_TIMEOUT):
    """Spawn to the window being viewable, median of runs."""
    times = []
    for _ in range(runs):
        t0 = time.monotonic()
        proc = subprocess.Popen(argv, cwd=cwd, env=env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        wait_for(lambda: x.find_windows("Strellan"), "the window", timeout=timeout,
                 interval=0.002)
        times.append(time.monotonic() - t0)
        w = x.find_windows("Strellan")[0]
        x.send_delete_window(w)
        proc.wait(timeout=120)
        wait_for(lambda: not x.find_windows("Strellan"), "the window to go")
    return statistics.median(times)


def time_to_ready(x, sound, argv, cwd, env, runs):
    """Spawn to the window viewable and the synthesizer's stream at the
    sound server (the SoundFont loaded), median of runs."""
    def stream_up():
        out = subprocess.run(["pactl", "list", "short", "sink-inputs"], env=env,
                             capture_output=True, text=True).stdout
        return out.strip() != ""
    times = []
    for _ in range(runs):
        t0 = time.monotonic()
        proc = subprocess.Popen(argv, cwd=cwd, env=env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        wait_for(lambda: x.find_windows("Strellan") and stream_up(), "ready", interval=0.002)
        times.append(time.monotonic() - t0)
        x.send_delete_window(x.find_windows("Strellan")[0])
        proc.wait(timeout=120)
        wait_for(lambda: not x.find_windows("Strellan") and not stream_up(), "gone")
    return statistics.median(times)


def wait_silent(rec, seconds):
    n = int(seconds * audio.RATE)
    wait_for(lambda: rec.seconds() * audio.RATE > n and
             audio.peak_dbfs(rec.samples()[-n:]) < -100, "silence")


def latency(rec, trigger):
    """From trigger() to the first audible sample recorded."""
    mark = int(rec.seconds() * audio.RATE)
    trigger()
    start = wait_for(lambda: audio.onset(rec.samples(), mark), "the note")
    return (start - mark) / audio.RATE


def bench_strellan(x, sound, env):
    row = {}
    row["start"] = time_to_window(x, [LINUX], ROOT, env, 10)
    row["ready"] = time_to_ready(x, sound, [LINUX], ROOT, env, 10)

    rec = sound.record(os.path.join(harness.build_dir(), "bench-strellan.f32"))
    proc = subprocess.Popen([LINUX], cwd=ROOT, env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    w = wait_for(lambda: x.find_windows("Strellan"), "the window")[0]
    gx, gy, width, height = x.geometry(w)
    time.sleep(0.5)
    row["rss_start"] = rss_mib(proc.pid)

    template = layout.template_from_res(os.path.join(ROOT, "build", "linux", "strellan.res"))

    def point(text):
        du_x, du_y = template.push_button(text).centre()
        return gx + round(du_x * width / template.cx), gy + round(du_y * height / template.cy)

    play, stop = point("Play"), point("Stop")

    # Latency from the paused stream: each Play after Stop and silence.
    lat = []
    for _ in range(20):
        wait_silent(rec, 0.4)
        lat.append(latency(rec, lambda: x.click(*play)))
        time.sleep(0.2)
        x.click(*stop)
    row["lat_median"], row["lat_worst"] = statistics.median(lat), max(lat)

    # CPU with a note sounding: Play again every second.
    x.click(*play)
    c0, t0 = cpu_seconds(proc.pid), time.monotonic()
    for _ in range(10):
        time.sleep(1.0)
        x.click(*play)
    row["cpu_sound"] = 100.0 * (cpu_seconds(proc.pid) - c0) / (time.monotonic() - t0)
    x.click(*stop)

    # CPU once silent.
    wait_silent(rec, 1.0)
    row["cpu_silent"] = cpu_percent(proc.pid)

    x.focus(w)
    for _ in range(4):
        x.key(*["space"] * 25)
    row["rss_100"] = rss_mib(proc.pid)

    x.send_delete_window(w)
    proc.wait(timeout=60)
    rec.stop()
    return row


def bench_fluidsynth(sound, env):
    """The stock fluidsynth program, its PulseAudio driver at its default
    periods, fed on its command line."""
    row = {"start": None}
    rec = sound.record(os.path.join(harness.build_dir(), "bench-fluidsynth.f32"))
    t0 = time.monotonic()
    proc = subprocess.Popen(["fluidsynth", "-q", "-a", "pulseaudio", "-g", "1.25", "-o",
                             "shell.prompt=", SOUNDFONT], env=env, stdin=subprocess.PIPE,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, text=True)

    def send(line):
        proc.stdin.write(line + "\n")
        proc.stdin.flush()

    send("prog 0 26")
    time.sleep(1.0)
    row["rss_start"] = rss_mib(proc.pid)
    lat = []
    for _ in range(20):
        wait_silent(rec, 0.4)
        lat.append(latency(rec, lambda: send("noteon 0 40 127")))
        time.sleep(0.2)
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
    del t0
    return row


def bench_wine(x):
    # The end-to-end tests' prefix, made once and kept.
    wine = harness.Wine(x, os.path.join(ROOT, "build", "windows-x86", "wine-prefix"))
    wine.ensure_prefix()
    folder = os.path.join(harness.build_dir(), "bench-wine")
    os.makedirs(folder, exist_ok=True)
    shutil.copy(EXE, folder)
    try:
        return {"start": time_to_window(x, ["wine", "strellan.exe"], folder, wine.env(), 3,
                                        timeout=300)}
    finally:
        wine.shutdown()


def fmt(value, unit, scale=1.0, digits=1):
    return "n/a" if value is None else f"{value * scale:.{digits}f} {unit}"


def main():
    os.environ.setdefault("STRELLAN_BUILD_DIR", os.path.join(ROOT, "build", "bench"))
    os.makedirs(harness.build_dir(), exist_ok=True)
    x = harness.XServer().start()
    sound = harness.SoundServer().start()
    env = dict(os.environ, DISPLAY=x.name, **sound.env())
    try:
        rows = [("Strellan (Linux)", bench_strellan(x, sound, env)),
                ("fluidsynth CLI", bench_fluidsynth(sound, env))]
        if "--no-wine" not in sys.argv:
            rows.append(("strellan.exe (Wine)", bench_wine(x)))
    finally:
        sound.stop()
        x.stop()

    cols = [("start-up to window", "start", "ms", 1000, 0),
            ("start-up to window + SoundFont loaded", "ready", "ms", 1000, 0),
            ("RSS at start", "rss_start", "MiB", 1, 1),
            ("RSS after 100 Plays", "rss_100", "MiB", 1, 1),
            ("CPU sounding", "cpu_sound", "%", 1, 2),
            ("CPU silent", "cpu_silent", "%", 1, 2),
            ("Play->sound median", "lat_median", "ms", 1000, 1),
            ("Play->sound worst", "lat_worst", "ms", 1000, 1)]
    print("| | " + " | ".join(c[0] for c in cols) + " |")
    print("|---" * (len(cols) + 1) + "|")
    for name, row in rows:
        print(f"| {name} | " + " | ".join(fmt(row.get(key), unit, scale, digits)
                                          for _, key, unit, scale, digits in cols) + " |")


if __name__ == "__main__":
    main()
