#!/usr/bin/python3
"""Amplitude spectrum of the analysis library against numpy.fft.rfft + abs.

numpy (Debian's python3-numpy, hence /usr/bin/python3) runs in this process with glibc told to keep freed memory (MALLOC_MMAP_MAX_=0,
MALLOC_TRIM_THRESHOLD_=64 GiB), so that it reuses its pages between calls as the library reuses
its work buffer and page faults do not decide the comparison. The library's figures come from
analysis_spectrum_bench: either run here (--bench BINARY) or read from a JSON file that it wrote
earlier (--json FILE, from --benchmark_out=FILE --benchmark_out_format=json), so that the largest
sizes need not be run twice.

  /usr/bin/python3 bench/analysis/numpy_compare.py --bench build/h-analysis-rel/bin/analysis_spectrum_bench
  /usr/bin/python3 bench/analysis/numpy_compare.py --json spectrum.json --sizes 1048576,16777216

Reports, per size, numpy's time and the library's two paths (ScaledWindow + AmpPhaseSpectrum +
SpectrumUnitConversion, and ScaledWindow + AutoPowerSpectrum) with numpy's time divided by each.
"""
import argparse
import json
import os
import subprocess
import sys
import time

KEEP = {"MALLOC_MMAP_MAX_": "0", "MALLOC_TRIM_THRESHOLD_": "68719476736"}
DEFAULT_SIZES = [1 << 20, 1 << 22, 1 << 24, 21473280, 33554431]


def ensure_malloc_env():
    if all(os.environ.get(k) == v for k, v in KEEP.items()):
        return
    env = dict(os.environ, **KEEP)
    os.execve(sys.executable, [sys.executable] + sys.argv, env)


def numpy_seconds(n, repeats):
    import numpy as np
    rng = np.random.default_rng(1)
    x = 0.3 * np.sin(0.001 * np.arange(n)) + 1e-3 * rng.standard_normal(n)
    np.abs(np.fft.rfft(x))  # warm-up: pocketfft plan, pages of the results
    best = float("inf")
    for _ in range(repeats):
        t0 = time.perf_counter()
        a = np.abs(np.fft.rfft(x))
        best = min(best, time.perf_counter() - t0)
        del a
    return best


def library_ms(args, sizes):
    if args.json:
        with open(args.json, encoding="utf-8") as f:
            data = json.load(f)
    else:
        pattern = "BM_Spectrum/(" + "|".join(str(n) for n in sizes) + ")/"
        out = subprocess.run([args.bench, "--benchmark_filter=" + pattern, "--benchmark_format=json"],
                             check=True, capture_output=True, text=True).stdout
        data = json.loads(out)
    result = {}
    for b in data.get("benchmarks", []):
        name = b.get("name", "")
        if not name.startswith("BM_Spectrum/"):
            continue
        n = int(name.split("/")[1])
        result[n] = (b["amp_phase_ms"], b["power_ms"], b["fftw_ms"])
    return result


def main():
    ensure_malloc_env()
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    src = p.add_mutually_exclusive_group(required=True)
    src.add_argument("--bench", help="analysis_spectrum_bench binary to run")
    src.add_argument("--json", help="JSON output of analysis_spectrum_bench")
    p.add_argument("--sizes", help="comma-separated record lengths", default=",".join(map(str, DEFAULT_SIZES)))
    p.add_argument("--repeats", type=int, default=3, help="numpy repetitions below 2^23 samples (1 above)")
    args = p.parse_args()
    sizes = [int(s) for s in args.sizes.split(",") if s]

    lib = library_ms(args, sizes)
    print(f"{'N':>10} {'numpy ms':>10} {'fftw ms':>9} {'amp+phase ms':>13} {'x faster':>8} {'win+power ms':>13} {'x faster':>8}")
    for n in sizes:
        if n not in lib:
            print(f"{n:>10} (no library figure)")
            continue
        t_np = numpy_seconds(n, args.repeats if n < (1 << 23) else 1) * 1e3
        amp, pw, fftw = lib[n]
        print(f"{n:>10} {t_np:10.1f} {fftw:9.1f} {amp:13.1f} {t_np / amp:8.2f} {pw:13.1f} {t_np / pw:8.2f}")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
