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
