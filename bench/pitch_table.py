#!/usr/bin/env python3
"""The pitch of each string before and after the Linux MIDI Mapper's
correction, for every General MIDI SoundFont installed on its search path:
rendered offline by bench/render_strings (built with the tests), the
fundamental found by aubio from 150 ms to 1.65 s after each attack, as the
sound tests find it. Prints a Markdown table; progress on stderr.

    python3 bench/pitch_table.py
"""

import os
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

import audio  # noqa: E402
import layout  # noqa: E402
import numpy  # noqa: E402
import subprocess  # noqa: E402

ROOT = os.path.abspath(os.path.join(HERE, ".."))
RENDER = os.path.join(ROOT, "build", "linux", "bench", "render_strings")
SOUNDFONTS = {
    "TimGM6mb": "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "FluidR3_GM": "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "MuseScore_General": "/usr/share/sounds/sf3/MuseScore_General.sf3",
}


def measure(mode, soundfont, cache):
    out = os.path.join(cache, f"{mode}.f32")
    subprocess.run([RENDER, mode, soundfont, cache, out], check=True)
    x = numpy.fromfile(out, dtype=numpy.float32)
    per = 2 * audio.RATE
    errors = []
    for i, s in enumerate(layout.reference_strings()):
        note = x[i * per + int(0.15 * audio.RATE):i * per + int(1.65 * audio.RATE)]
        errors.append(audio.cents(audio.fundamental(note), audio.equal_temperament(s.note)))
    return errors


def main():
    strings = layout.reference_strings()
    columns, rows = [], {s.pitch: [] for s in strings}
    for name, path in SOUNDFONTS.items():
        if not os.path.exists(path):
            print(f"pitch_table: {name} is not installed ({path})", file=sys.stderr)
            continue
        print(f"pitch_table: {name}", file=sys.stderr)
        cache = tempfile.mkdtemp()
        try:
            before = measure("plain", path, cache)
            after = measure("corrected", path, cache)
        finally:
            shutil.rmtree(cache)
        columns += [f"{name} before", f"{name} after"]
        for s, b, a in zip(strings, before, after):
            rows[s.pitch] += [b, a]
    print("| string | " + " | ".join(columns) + " |")
    print("|---" * (len(columns) + 1) + "|")
    for pitch, values in rows.items():
        print(f"| {pitch} | " + " | ".join(f"{v:+.2f}" for v in values) + " |")
    worst = [max(abs(rows[p][i]) for p in rows) for i in range(len(columns))]
    print("| worst | " + " | ".join(f"{w:.2f}" for w in worst) + " |")


if __name__ == "__main__":
    main()
