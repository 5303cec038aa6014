#!/usr/bin/env python3
"""Tables for the Performance section: kernel figures from Google Benchmark's
JSON output, and whole runs of the bench cases with the fast and the plain
build (time, peak memory, and whether every file is the same)."""
import hashlib
import json
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time


def kernels(path):
    with open(path) as f:
        data = json.load(f)
    rows = {}
    bandwidth = {}
    for b in data["benchmarks"]:
        name = b["name"]
        m = re.match(r"BM_(\w+?)(?:<(true|false)>)?/(\d+)", name)
        if not m:
            continue
        kernel, fast, size = m.group(1), m.group(2), int(m.group(3))
        if kernel == "Triad":
            bandwidth[size] = b["GB_per_s"] / 1e9 if b["GB_per_s"] > 1e6 else b["GB_per_s"]
            continue
        if "ns_per_unknown" not in b:
            continue
        ns = b["ns_per_unknown"]
        ns = ns * 1e9 if ns < 1e-3 else ns
        entry = rows.setdefault((kernel, size), {})
        entry["plain" if fast == "false" else "fast"] = ns
        entry["bytes_" + ("plain" if fast == "false" else "fast")] = b.get("bytes_per_unknown", 0)
    print("| kernel | grid | plain ns/unknown | fast ns/unknown | speed-up | bytes/unknown | bound ns | fast / bound |")
    print("|---|---|---|---|---|---|---|---|")
    for (kernel, size), e in sorted(rows.items()):
        fast = e.get("fast")
        plain = e.get("plain")
        nbytes = e.get("bytes_fast", e.get("bytes_plain", 0))
        bw = bandwidth.get(size)
        bound = nbytes / bw if bw else None
        cells = [kernel, f"{size}²", f"{plain:.2f}" if plain else "—", f"{fast:.2f}" if fast else "—",
                 f"{plain / fast:.1f}×" if plain and fast else "—", f"{nbytes:.0f}",
                 f"{bound:.2f}" if bound else "—", f"{fast / bound:.2f}" if fast and bound else "—"]
        print("| " + " | ".join(cells) + " |")
    print()
    print("Streaming bound (triad, 24 bytes an element): " +
          ", ".join(f"{s}²: {bw:.1f} GB/s" for s, bw in sorted(bandwidth.items())))
    for b in data["benchmarks"]:
        if "values_per_s" in b:
            print(f"{b['name']}: {b['values_per_s'] / 1e6:.1f} million values/s")
        elif b["name"].startswith("BM_MultigridCycle") and b.get("aggregate_name", "median") == "median":
            line = f"{b['name']}: {b['real_time']:.1f} {b['time_unit']} per V-cycle"
            # a cycle's arrays are far larger than the caches: the bound is
            # its bytes at the bandwidth of the largest triad
            if "bytes_per_cycle" in b and bandwidth:
                bound_ms = b["bytes_per_cycle"] / (bandwidth[max(bandwidth)] * 1e9) * 1e3
                line += f"; streaming bound {bound_ms:.1f} ms ({b['bytes_per_cycle'] / 1e6:.0f} MB), " \
                        f"{b['real_time'] / bound_ms:.2f}× the bound"
            print(line)


GNU_TIME = "/usr/bin/time"


def run_case(exe, case=None):
    """Runs exe --batch on the case's input (None: the default experiment) in
    a fresh folder; returns the seconds, the peak resident MiB, the exit
    status and a digest of every file written."""
    work = tempfile.mkdtemp(prefix="placatermo-bench-")
    if case is not None:
        shutil.copy(os.path.join(case, "placatermo.ent"), work)
    # GNU time measures the program as its own child: a child of this
    # process would count this process's memory as its own before exec
    peak_file = os.path.join(work, ".peak")
    command = [os.path.abspath(exe), "--batch"]
    if os.path.exists(GNU_TIME):
        command = [GNU_TIME, "-f", "%M", "-o", peak_file] + command
    start = time.monotonic()
    child = subprocess.Popen(command, cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             env=dict(os.environ, PATH="/nonexistent"))
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.monotonic() - start
    peak = usage.ru_maxrss / 1024.0
    if os.path.exists(peak_file):
        with open(peak_file) as f:
            peak = int(f.read().split()[-1]) / 1024.0
        os.remove(peak_file)
    files = {}
    for name in sorted(os.listdir(work)):
        with open(os.path.join(work, name), "rb") as f:
            data = f.read()
        # a digest, not the bytes: what this process holds when it starts the
        # next run counts in that run's peak memory
        masked = re.sub(rb"Hora = [0-9: ]{8}", b"", re.sub(rb"\r\n[^\r\n]*= tempo de processamento \(s\)", b"", data))
        files[name] = hashlib.sha256(masked).hexdigest()
    shutil.rmtree(work)
    return seconds, peak, status, files


def stated_mib(case):
    """The arrays the program says it holds (its memory check): b of every
    grid, the table where the solver reads one (ADI, MSI, or a grid too small
    for a stencil), the MSI factors, each grid's residual and, but on the
    finest grid, its correction; t and the finest call's work arrays."""
    with open(os.path.join(case, "placatermo.ent"), encoding="latin-1") as f:
        values = [line.split()[0] for line in f if line.strip()]
    grids, n1, solver = int(values[5]), int(values[6]), int(values[10])
    sizes = [((n1 - 2) << k) + 2 for k in range(grids)]
    counts = [s * s for s in sizes]
    finest = counts[-1]
    work = {1: 1, 3: 1, 4: 2, 5: 3}.get(solver, 0)
    msi = 7 if solver == 5 else 0
    doubles = finest * (1 + work)
    for k, (size, count) in enumerate(zip(sizes, counts), start=1):
        table = 5 if solver in (4, 5) or size < 4 else 0
        levels = (2 if k < grids else 1) if grids > 1 else 0
        doubles += count * (1 + table + msi + levels)
    return doubles * 8 / 2**20


def runs(fast_exe, plain_exe, cases):
    # what the program holds before its arrays: its peak on the default
    # experiment (a few small grids)
    base = run_case(fast_exe)[1]
    print("| case | plain s | fast s | speed-up | peak MiB (fast) | arrays MiB (peak less the program's own) "
          "| stated arrays MiB | arrays / stated | same files |")
    print("|---|---|---|---|---|---|---|---|---|")
    ratios = []
    for name in sorted(os.listdir(cases)):
        case = os.path.join(cases, name)
        # alternating runs, the median of three of each
        fast, plain = [], []
        for _ in range(3):
            fast.append(run_case(fast_exe, case))
            plain.append(run_case(plain_exe, case))
        fs = sorted(r[0] for r in fast)[1]
        ps = sorted(r[0] for r in plain)[1]
        fm = max(r[1] for r in fast)
        same = all(r[2] == 0 and r[3] == plain[0][3] for r in fast + plain)
        stated = stated_mib(case)
        ratios.append(ps / fs)
        print(f"| {name} | {ps:.2f} | {fs:.2f} | {ps / fs:.1f}× | {fm:.0f} | {fm - base:.0f} | {stated:.0f} | "
              f"{(fm - base) / stated:.2f} | {'yes' if same else 'NO'} |")
    print()
    print(f"The program's own memory (peak of the default experiment): {base:.1f} MiB")
    print(f"Geometric mean of the speed-ups: {math.exp(sum(map(math.log, ratios)) / len(ratios)):.1f}×")


if __name__ == "__main__":
    if sys.argv[1] == "kernels":
        kernels(sys.argv[2])
    else:
        runs(sys.argv[2], sys.argv[3], sys.argv[4])
