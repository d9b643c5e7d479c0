#!/usr/bin/python3
"""Runs the FFT, MLS deconvolution and real-time convolver benchmarks and prints each result as a ratio to its
peer measured in the same run (ours / peer; below 1 is faster than the peer).

Usage: ratios.py [BENCH_DIR] [--simd auto,avx2,sse2] [--min-time SECONDS] [--only fft|mls|live]
BENCH_DIR holds tovrel_bench_fft, tovrel_bench_sequnfold and tovrel_bench_livefold (default build/bench/bench).
Each instruction set of --simd runs the benchmarks once, chosen through TOVREL_FFT_SIMD
("auto" leaves the choice to the processor). Times are CPU times, medians of 3 runs.
"""
import argparse
import json
import os
import subprocess
import sys

PAIRS = {
    "fft": [("RealFftForward", "FftwR2c", "forward"), ("RealFftInverse", "FftwC2r", "inverse")],
    "mls": [("BM_SequnfoldXfmDo", "BM_FftwCircularCorrelation", "MLS order")],
    "live": [("LiveEngineCascadeQ", "FftwOverlapSaveCascadeQ", "seconds")],
}
PROGRAMS = {"fft": "tovrel_bench_fft", "mls": "tovrel_bench_sequnfold", "live": "tovrel_bench_livefold"}


def run(program, simd, min_time, pattern):
    env = dict(os.environ)
    env.pop("TOVREL_FFT_SIMD", None)
    if simd != "auto":
        env["TOVREL_FFT_SIMD"] = simd
    out = subprocess.run([program, "--benchmark_format=json", f"--benchmark_min_time={min_time}",
                          "--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true",
                          f"--benchmark_filter={pattern}"],
                         env=env, check=True, capture_output=True, text=True).stdout
    times = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            times[b["run_name"]] = b["cpu_time"]
    return times


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bench_dir", nargs="?", default="build/bench/bench")
    parser.add_argument("--simd", default="auto,avx2,sse2")
    parser.add_argument("--min-time", default="0.3")
    parser.add_argument("--only", choices=["fft", "mls", "live"])
    args = parser.parse_args()
    kinds = [args.only] if args.only else ["fft", "mls", "live"]
    for kind in kinds:
        program = os.path.join(args.bench_dir, PROGRAMS[kind])
        pattern = "XfmDo|Fftw" if kind == "mls" else "."
        for simd in args.simd.split(","):
            times = run(program, simd, args.min_time, pattern)
            print(f"\n{kind} (SIMD: {simd}), ours / peer")
            for ours, peer, label in PAIRS[kind]:
                sizes = sorted({int(n.split("/")[1]) for n in times if n.startswith(ours + "/")})
                for size in sizes:
                    a, b = times.get(f"{ours}/{size}"), times.get(f"{peer}/{size}")
                    if a and b:
                        shown = f"2^{size.bit_length() - 1}" if kind == "fft" else str(size)
                        print(f"  {label:9} {shown:>5}  {a / b:6.2f}   ({a:.4g} vs {b:.4g})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
