#!/usr/bin/python3
"""scipy.linalg.solve_toeplitz on the system of bench_toeplitz, and the residuals.

Reads the float32 autocorrelation r, right-hand side y and our float32 solution x (raw
little-endian files of L values), times solve_toeplitz((r, r), y) in double precision and
prints one JSON object: the time, and the relative residual ||R x - y|| / ||y|| of SciPy's
solution, of SciPy's solution rounded to float32, and of ours, all evaluated in double.
Usage: bench_toeplitz.py R Y X

With "kirkeby" first, the 2 x 2 regularised (Kirkeby) design written with NumPy instead:
the two stereo responses one after the other in a raw 16-bit file, the filter length L,
the sample rate, epsilon in and out, the cut frequencies and the transition width; it
times the design from the samples to the four 16-bit filters.
Usage: bench_toeplitz.py kirkeby RAW L RATE EPS_IN EPS_OUT LOW HIGH WIDTH
"""
import json
import sys
import time

import numpy as np
import scipy.linalg as sl


def residual(r, y, x):
    return float(np.linalg.norm(sl.matmul_toeplitz((r, r), x) - y) / np.linalg.norm(y))


def kirkeby(args):
    raw, L, rate = args[0], int(args[1]), int(args[2])
    eps_in, eps_out, low, high, width = (float(a) for a in args[3:8])
    x = np.fromfile(raw, dtype="<i2").reshape(-1, 2).astype(np.float32) / 32768
    start = time.perf_counter()
    k = len(x) // 2
    n_bins = L // 2
    a, b, c, d = (np.fft.rfft(v, L) for v in (x[:k, 0], x[:k, 1], x[k:2 * k, 0], x[k:2 * k, 1]))
    det = a * d - c * b
    edges = [int(f * 2 ** (s * width / 2) * L / rate) for f, s in ((low, -1), (low, 1), (high, -1), (high, 1))]
    k1, k2 = max(edges[0], 1), max(edges[1], 1)
    k3, k4 = min(edges[2], n_bins - 1), min(edges[3], n_bins - 1)
    bins = np.arange(n_bins + 1, dtype=np.float64)
    eps = np.full(n_bins + 1, eps_out)
    if k2 > k1:
        m = (bins >= k1) & (bins < k2)
        eps[m] = eps_out * (eps_in / eps_out) ** ((bins[m] - k1) / (k2 - k1))
    eps[(bins >= k2) & (bins < k3)] = eps_in
    if k4 > k3:
        m = (bins >= k3) & (bins < k4)
        eps[m] = eps_in * (eps_out / eps_in) ** ((bins[m] - k3) / (k4 - k3))
    inv = np.conj(det) / (np.abs(det) ** 2 + eps)
    filters = [np.roll(np.fft.irfft(f * inv, L), n_bins) for f in (d, -b, -c, a)]
    peak = max(np.max(np.abs(f)) for f in filters)
    out = [np.round(f * (32767 / peak)).astype(np.int16) for f in filters]
    seconds = time.perf_counter() - start
    print(json.dumps({"seconds": seconds, "samples": int(sum(len(o) for o in out))}))


def main():
    if sys.argv[1] == "kirkeby":
        kirkeby(sys.argv[2:])
        return
    r, y, ours = (np.fromfile(name, dtype="<f4").astype(np.float64) for name in sys.argv[1:4])
    start = time.perf_counter()
    x = sl.solve_toeplitz((r, r), y)
    seconds = time.perf_counter() - start
    print(json.dumps({
        "seconds": seconds,
        "residual_scipy": residual(r, y, x),
        "residual_scipy_f32": residual(r, y, x.astype(np.float32).astype(np.float64)),
        "residual_ours": residual(r, y, ours),
    }))


if __name__ == "__main__":
    main()
