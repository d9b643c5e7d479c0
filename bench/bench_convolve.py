#!/usr/bin/python3
"""Convolution of a long recording with a long response, as whole processes.

10 minutes of stereo noise at 48 kHz (16-bit WAV) convolved with a 2 s stereo response:
channel by channel (tovrel mode E) and through a 2 x 2 response (mode Q). Each program
reads the WAV files and writes the full-length result (L + M - 1 frames):

  tovrel    clip load of the response, then run "Convolve with Clipboard" (one core)
  afir      ffmpeg's afir filter, gtype=none, the input padded with M - 1 zero frames so
            that it emits the tail; the 2 x 2 case as two afir and amix
  fconvolver  jconvolver's offline convolver (-V), the input padded likewise

The programs run alternately, REPEAT times each; the table gives the best wall time, the
times real time, the ratio against tovrel and the peak resident memory (of the largest
process). A second, shorter recording shows how memory grows with the selection.
Set up the peers with bench/setup-convolve.sh; build tovrel with the bench preset.
Usage: bench_convolve.py [TOVREL] [--minutes M] [--repeat R] [--dir DIR]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import wave

import numpy as np

RATE = 48000
PARTITION = 4096  # fconvolver's partition size: offline, the larger the faster


def write_wav(path, data):
    with wave.open(path, "wb") as w:
        w.setnchannels(data.shape[1])
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(np.ascontiguousarray(data, dtype="<i2").tobytes())


def response(frames, seed):
    rng = np.random.default_rng(seed)
    t = np.arange(frames) / RATE
    return rng.normal(0, 1, frames) * np.exp(-t * 6.9 / 1.5)


def make_inputs(d, minutes, ir_seconds):
    rng = np.random.default_rng(1)
    frames = int(minutes * 60 * RATE)
    m = int(ir_seconds * RATE)
    x = rng.integers(-8000, 8001, size=(frames, 2), dtype=np.int16)
    write_wav(f"{d}/noise.wav", x)
    write_wav(f"{d}/noise-padded.wav", np.vstack([x, np.zeros((m - 1, 2), np.int16)]))
    paths = {}
    h = [response(m, s) for s in (2, 3, 4, 5)]
    scale = 20000 / max(np.abs(v).max() for v in h)
    q = [np.round(v * scale).astype(np.int16) for v in h]
    write_wav(f"{d}/ir.wav", np.stack([q[0], q[1]], 1))                 # hL, hR
    write_wav(f"{d}/ir-ll-lr.wav", np.stack([q[0], q[1]], 1))           # left input to L, R
    write_wav(f"{d}/ir-rl-rr.wav", np.stack([q[2], q[3]], 1))           # right input to L, R
    write_wav(f"{d}/ir-2x2.wav", np.vstack([np.stack([q[0], q[1]], 1), np.stack([q[2], q[3]], 1)]))
    for k, v in enumerate(q):
        write_wav(f"{d}/ir{k}.wav", v[:, None])
    return frames, m


def fconvolver_config(d, name, two_by_two, m):
    lines = [f"/convolver/new 2 2 {PARTITION} {m}", f"/cd {d}"]
    if two_by_two:
        lines += ["/impulse/read 1 1 1 0 0 0 1 ir-ll-lr.wav", "/impulse/read 1 2 1 0 0 0 2 ir-ll-lr.wav",
                  "/impulse/read 2 1 1 0 0 0 1 ir-rl-rr.wav", "/impulse/read 2 2 1 0 0 0 2 ir-rl-rr.wav"]
    else:
        lines += ["/impulse/read 1 1 1 0 0 0 1 ir.wav", "/impulse/read 2 2 1 0 0 0 2 ir.wav"]
    path = f"{d}/{name}.conf"
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return path


def commands(tovrel, d, m):
    home = f"{d}/home"
    tov = f"TOVREL_HOME={home} {tovrel}"
    plain = (f"{tov} clip load {d}/ir.wav && {tov} run 'Convolve with Clipboard' {d}/noise.wav "
             f"--set 1008=on --set 1002=on --set 1004=off --set 1030=off --set 1031=-30 -o {d}/tovrel-E.wav")
    quad = (f"{tov} clip load {d}/ir-2x2.wav && {tov} run 'Convolve with Clipboard' {d}/noise.wav "
            f"--set 1008=on --set 1002=on --set 1004=on --set 1005=on --set 1030=off --set 1031=-30 "
            f"-o {d}/tovrel-Q.wav")
    ff = "ffmpeg -nostdin -v error -y"
    afir = f"{ff} -i {d}/noise-padded.wav -i {d}/ir.wav -filter_complex afir=gtype=none -c:a pcm_s16le {d}/afir-E.wav"
    afir2 = (f"{ff} -i {d}/noise-padded.wav -i {d}/ir-ll-lr.wav -i {d}/ir-rl-rr.wav -filter_complex "
             f"\"[0:a]channelsplit=channel_layout=stereo[l][r];[l]aformat=channel_layouts=stereo[l2];"
             f"[r]aformat=channel_layouts=stereo[r2];[l2][1:a]afir=gtype=none[a];[r2][2:a]afir=gtype=none[b];"
             f"[a][b]amix=inputs=2:normalize=0\" -c:a pcm_s16le {d}/afir-Q.wav")
    fc = (f"fconvolver -V {fconvolver_config(d, 'E', False, m)} {d}/noise-padded.wav {d}/fconv-E.wav"
          f" >/dev/null")
    fc2 = (f"fconvolver -V {fconvolver_config(d, 'Q', True, m)} {d}/noise-padded.wav {d}/fconv-Q.wav"
           f" >/dev/null")
    return {"E": [("tovrel", plain), ("afir", afir), ("fconvolver", fc)],
            "Q": [("tovrel", quad), ("afir", afir2), ("fconvolver", fc2)]}


def timed(cmd):
    """Wall time and the peak resident memory (kB) of the largest process of a shell command."""
    start = time.perf_counter()
    # GNU time measures from a small process of its own (the benchmark's memory is not counted).
    proc = subprocess.run(["/usr/bin/time", "-f", "%M", "/bin/sh", "-c", cmd], stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    err = proc.stderr.decode(errors="replace").strip().splitlines()
    if proc.returncode != 0:
        raise RuntimeError(f"failed ({proc.returncode}): {cmd}\n" + "\n".join(err))
    return wall, int(err[-1])


def frames_of(path):
    with wave.open(path) as w:
        return w.getnframes()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("tovrel", nargs="?", default=os.path.join(os.path.dirname(__file__), "../build/bench/cli/tovrel"))
    ap.add_argument("--minutes", type=float, default=10)
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--dir")
    a = ap.parse_args()
    d = a.dir or tempfile.mkdtemp(prefix="tovrel-bench-convolve-")
    os.makedirs(d, exist_ok=True)
    for tool in ("ffmpeg", "fconvolver", "/usr/bin/time"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is missing: run bench/setup-convolve.sh")
    tovrel = os.path.abspath(a.tovrel)
    # One core for everyone (the peers' own threads included).
    pin = "taskset -c 0 " if shutil.which("taskset") else ""
    rows = []
    for minutes in (a.minutes, a.minutes / 4):
        frames, m = make_inputs(d, minutes, 2.0)
        seconds = frames / RATE
        for case, runs in commands(pin + tovrel, d, m).items():
            best = {}
            for _ in range(a.repeat):
                for name, cmd in runs:
                    wall, rss = timed(pin + cmd if name != "tovrel" else cmd)
                    old = best.get(name, (1e9, 0))
                    best[name] = (min(old[0], wall), max(old[1], rss))
            out = f"{d}/tovrel-{case}.wav"
            expected = frames + m - 1
            if frames_of(out) != expected:
                sys.exit(f"tovrel wrote {frames_of(out)} frames in mode {case}, not {expected}")
            for name, _ in runs:
                wall, rss = best[name]
                rows.append((seconds, case, name, wall, seconds / wall, wall / best["tovrel"][0], rss / 1024))
    print(f"{'input s':>8} {'mode':>4} {'program':>10} {'wall s':>8} {'x real time':>12} {'vs tovrel':>10} {'peak MB':>8}")
    for seconds, case, name, wall, xrt, ratio, mb in rows:
        print(f"{seconds:8.0f} {case:>4} {name:>10} {wall:8.2f} {xrt:12.0f} {ratio:10.2f} {mb:8.0f}")
    if not a.dir:
        shutil.rmtree(d)


if __name__ == "__main__":
    main()
