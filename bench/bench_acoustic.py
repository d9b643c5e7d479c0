#!/usr/bin/python3
"""The acoustical-parameters chain written with NumPy and SciPy, for bench_acoustic.

Reads a raw little-endian 16-bit interleaved response, analyses every channel as the
module does (wide band and the octave bands up to fs / 2.1: three band-pass sections by
sosfilt, noise estimate, backward integral, energy ratios, decay-curve line fits), and
prints one JSON object with the median time of the repetitions and the RT30 values.
Usage: bench_acoustic.py FILE CHANNELS RATE REPETITIONS
"""
import json
import sys
import time

import numpy as np
import scipy.signal as ss

CENTRES = (31.5, 63, 125, 250, 500, 1000, 2000, 4000, 8000, 16000)


def sos_for(fc, fs):
    rows = []
    for f0, q in ((0.75 * fc, 8), (fc, 4), (1.3 * fc, 8)):
        th = 2 * np.pi * f0 / fs
        t = np.tan(th / (2 * q))
        b = 0.5 * (1 - t) / (1 + t)
        g = float(np.float32((0.5 + b) * np.cos(th)))
        a = float(np.float32((0.5 - b) / 2))
        rows.append([2 * a, 0, -2 * a, 1, -2 * g, 2 * b])
    return np.array(rows)


def fit(levels, a, b, c, corrected, fs):
    n = len(levels)
    l0 = float(levels[a])
    s = a
    if b > 0:
        idx = np.flatnonzero(levels[a:] <= l0 - b)
        if len(idx) == 0:
            return 0.0, 0.0
        s = a + int(idx[0])
    y = levels[s:].astype(np.float64) - l0
    below = np.flatnonzero(y < -(b + c))
    count = int(below[0]) if len(below) else n - s
    end = s + count + 1 if len(below) else n
    limit = n - n // 10 if corrected else n - n // 16
    if end > limit:
        return 0.0, 0.0
    if count < 2:
        return 0.0, 71.0
    y = y[:count]
    x = np.arange(1, count + 1, dtype=np.float64)
    slope = np.polyfit(x, y, 1)[0]
    r2 = np.corrcoef(x, y)[0, 1] ** 2
    return (-60 / slope / fs, r2) if r2 >= 0.85 else (0.0, 0.0)


def row(w, a, power, fs, values):
    n = len(w)
    g = w.astype(np.float64) ** 2
    if power:
        g = np.maximum(g - power, 0)
    e = np.cumsum(g[::-1])[::-1]
    moment = np.dot(np.arange(1, n - a + 1, dtype=np.float64), g[a:]) / fs
    k50, k80 = int(0.05 * fs), int(0.08 * fs)
    with np.errstate(divide="ignore", invalid="ignore"):
        late50 = e[a + k50] if a + k50 < n else 0.0
        late80 = e[a + k80] if a + k80 < n else 0.0
        values += [10 * np.log10((e[a] - late50) / late50), 10 * np.log10((e[a] - late80) / late80),
                   100 * (e[a] - late50) / e[a], 1000 * moment / e[a]]
        ef = e.astype(np.float32)
        levels = np.where(ef > 0, 10 * np.log10(ef), 0).astype(np.float32)
    corrected = power != 0
    values.append(fit(levels, a, 0.1, 10, corrected, fs)[0])
    for b, c in ((5, 20), (5, 30), (5, 10)):
        values += list(fit(levels, a, b, c, corrected, fs))


def channel(src, fs):
    n = len(src)
    a = int(np.flatnonzero(np.abs(src) >= 10000)[0])
    m = n // 16
    out = []
    power = float(np.mean(src[-m:].astype(np.float64) ** 2)) if m >= 10 else 0.0
    values = []
    row(src.copy(), a, power, fs, values)
    out.append(values)
    for fc in CENTRES:
        if fc > fs * 0.4761905:
            break
        w = ss.sosfilt(sos_for(fc, fs), src.astype(np.float64)).astype(np.float32)
        power = float(np.mean(w[-m:].astype(np.float64) ** 2)) if m / fs >= 5 / (0.707 * fc) else 0.0
        values = []
        row(w, a, power, fs, values)
        out.append(values)
    return out


def main():
    path, channels, fs, repetitions = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4])
    data = np.fromfile(path, dtype="<i2").reshape(-1, channels)
    times = []
    for _ in range(repetitions):
        start = time.perf_counter()
        results = [channel(data[:, c].astype(np.float32), fs) for c in range(channels)]
        times.append(time.perf_counter() - start)
    rt30 = [[float(r[7]) for r in ch] for ch in results]
    print(json.dumps({"seconds": float(np.median(times)), "rt30": rt30}))


if __name__ == "__main__":
    main()
