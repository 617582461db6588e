"""Analysis of recorded sound: aubio finds the pitch, numpy the levels."""

import math

import aubio
import numpy

RATE = 48000
SILENCE = 1e-4  # -80 dBFS


def db(x):
    return 20 * math.log10(max(x, 1e-12))


def peak_dbfs(samples):
    return db(float(numpy.max(numpy.abs(samples)))) if len(samples) else -240.0


def onset(samples, start=0, threshold=SILENCE):
    """Index of the first sample from start on above the threshold, or None."""
    loud = numpy.nonzero(numpy.abs(samples[start:]) > threshold)[0]
    return start + int(loud[0]) if len(loud) else None


def fundamental(samples):
    """The median of aubio's YIN estimates over the segment, in Hz."""
    hop, window = 512, 8192
    detector = aubio.pitch("yinfast", window, hop, RATE)
    detector.set_unit("Hz")
    found = []
    segment = numpy.ascontiguousarray(samples, dtype=numpy.float32)
    for i in range(0, len(segment) - hop, hop):
        f = float(detector(segment[i:i + hop])[0])
        if f > 0 and detector.get_confidence() > 0.9:
            found.append(f)
    return float(numpy.median(found)) if found else 0.0


def cents(f, ref):
    return 1200 * math.log2(f / ref) if f > 0 else float("inf")


def equal_temperament(note):
    return 440.0 * 2 ** ((note - 69) / 12)


# --- dropouts ----------------------------------------------------------------------
# What a listener hears as a click inside a sounding note: the sound server
# had nothing from the stream in time (a run of exact digital silence) or
# skipped some of it (a jump in the waveform). Found in the waveform alone:
# neither the program's buffering nor its pitch detector has a say here.

GAP_SECONDS = 0.001  # the shortest silence that counts
# A jump is told by linear prediction, as audio restoration finds clicks: a
# sounding note is well predicted from its last few samples (an
# autoregressive model fitted block by block), a splice of two moments of
# it is not. The error of prediction is noise-like; a jump stands far out
# of it, and clear of the faintest steps, which nobody hears in a note.
PREDICTOR_ORDER = 12
PREDICTOR_BLOCK = 960  # 20 ms
JUMP_SIGMAS = 12
JUMP_FLOOR = 0.002  # -54 dBFS


def silences(x, min_length):
    """(start, length) of the runs of exact zeros of at least min_length
    samples that sound follows."""
    zero = numpy.concatenate(([0], (x == 0.0).astype(numpy.int8), [0]))
    edges = numpy.diff(zero)
    starts, ends = numpy.nonzero(edges == 1)[0], numpy.nonzero(edges == -1)[0]
    return [(int(s), int(e - s)) for s, e in zip(starts, ends)
            if e - s >= min_length and e < len(x)]


def jumps(x):
    """Indices where the waveform jumps: where its prediction from the
    samples before fails by far more than it does around there."""
    p, found = PREDICTOR_ORDER, []
    for begin in range(p, len(x) - PREDICTOR_BLOCK + 1, PREDICTOR_BLOCK):
        block = x[begin - p:begin + PREDICTOR_BLOCK]
        past = numpy.lib.stride_tricks.sliding_window_view(block[:-1], p)
        coefficients = numpy.linalg.lstsq(past, block[p:], rcond=None)[0]
        error = numpy.abs(block[p:] - past @ coefficients)
        sigma = 1.4826 * numpy.median(error)  # the error's spread, robustly
        far = numpy.nonzero((error > JUMP_SIGMAS * sigma) & (error > JUMP_FLOOR))[0]
        found += [begin + int(i) for i in far]
    # One jump throws the next few predictions too: count it once.
    return [i for k, i in enumerate(found) if k == 0 or i - found[k - 1] > p]


def dropouts(note):
    """Every dropout in a note's samples, from just after its attack to where
    it is cut: (where in seconds, how long in seconds), 0 s for a jump."""
    attack = int(0.01 * RATE)
    body = numpy.asarray(note[attack:], dtype=numpy.float64)
    found = [(s, n) for s, n in silences(body, int(GAP_SECONDS * RATE))]
    # A silence's own edges are no jumps of their own.
    found += [(i, 0) for i in jumps(body)
              if not any(s - PREDICTOR_ORDER <= i <= s + n + PREDICTOR_ORDER for s, n in found)]
    return sorted(((attack + s) / RATE, n / RATE) for s, n in found)


def dropped_cycles(found, cycle_seconds, busy=False):
    """Those of found that are a sound server's graph cycles lost: a gap of
    0.4 to 2.06 cycles (one or two whole cycles at the stream's rate, or the
    larger part of one: 10.2 ms of a 23.2 ms cycle when resampled to
    44.1 kHz), with the jumps within a cycle either side of it (where the
    rest of a resampled cycle was cut out). Two in a row are one stall of
    the graph's real-time threads: on these virtual machines the host now
    and then holds the whole machine up (a real-time thread here woke up to
    33 ms late with both cores busy, whatever the busy processes' priority).
    With the cores busy the host holds it up longer and more often: up to
    three cycles in a row, a cycle's samples cut out (three jumps or more
    within one cycle, no gap), and jumps up to three cycles either side,
    where the graph catches up."""
    most, near = (3.06, 3.06) if busy else (2.06, 1)
    spans = [(t, n) for t, n in found if 0.4 * cycle_seconds <= n <= most * cycle_seconds]
    if busy:
        cuts = [t for t, n in found if n == 0]
        spans += [(t, cycle_seconds) for i, t in enumerate(cuts)
                  if len([u for u in cuts[i:] if u - t <= cycle_seconds]) >= 3]
    return [(t, n) for t, n in found
            if any(g - near * cycle_seconds <= t <= g + m + near * cycle_seconds
                   for g, m in spans)]


def describe_dropouts(name, found):
    return f"{name}: " + ", ".join(
        f"{'a gap of %.1f ms' % (n * 1000) if n else 'a jump'} at {t * 1000:.1f} ms"
        for t, n in found)
