#!/usr/bin/env python3
"""The textbook job against its memory-traffic bound, PETSc and FFTW.

The job: n x n real volumes of the sinusoidal plate, grids from 4 x 4 up,
--multigrid=rapido (or --ciclo=classico) with Gauss-Seidel (2 inner; the
fast cycle does 1 on each coarse visit), to a ratio of 1e-8, the
whole process with every file it writes (no plotter). For each size, the
median of three runs of the job and of PETSc CG + BoomerAMG on the same
discrete system (bench/petsc_plate.py), alternated; the bytes the job must
move at the least; the triad bandwidth measured in the same run; and the
job's time over the bound.

Alternated with them, the fast Poisson solver a user who knows the field
would take for this system (bench/fftw_plate.cpp: FFTW's sine transforms, on
two threads and on one), and the job again on one core (taskset -c 0). The
second table sets, per size, medians of three: the job's processing time
(the line of its results file) against FFTW's first solve (allocation, fill,
plan, solve), the whole processes against each other (the job with its files
against the FFTW process, both on the parent's wall clock, both under GNU
time as the job always is), and the job's processing time on one core
against two. A ratio FFTW / placatermo of 1 or more means the job is ahead.

The least traffic of each step, with A_k the bytes of one array of grid k:
  a Gauss-Seidel sweep reads u and b and writes u back: 3 A_k, the first one
    of a correction from zero reads b and writes u: 2 A_k (the zeroing folded
    away);
  a residual reads u and b and writes r: 3 A_k, and a restriction reads the
    fine residual (A_k+1) and writes b (A_k); on the finest grid one pass
    that reads t and b gives the norm and the coarse right-hand side, the
    residual not stored (2 A_k, and A_k-1 written);
  an interpolation reads the coarse correction (A_k-1) and reads and writes
    the fine one or t (2 A_k);
  the set-up writes b of every grid and t once (A_k each);
  the files: their bytes, written once, and t read once for the listing.
Sweeps that move less than one read and one write of u per sweep (several
sweeps per pass over memory) are left out: that is another algorithm.

Usage: bound.py [--sem-petsc] [--ciclo=C] EXE TRIAD FFTW [SIZES]   (default "1024 2048 4096")
--sem-petsc leaves PETSc out (at 4096² it takes half a minute a run);
--ciclo=classico times the textbook cycle instead of the fast one.
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

PETSC_DIR = "/usr/lib/petscdir/petsc3.18/x86_64-linux-gnu-real"
INNER = 2
CYCLE = "rapido"


def coarse_inner(inner=INNER):
    """Inner iterations of a visit to a coarse grid."""
    return (inner + 1) // 2 if CYCLE == "rapido" else inner


def grid_sizes(n):
    sizes = [4]
    while sizes[-1] < n + 2:
        sizes.append((sizes[-1] - 2) * 2 + 2)
    if sizes[-1] != n + 2:
        raise SystemExit(f"{n} real volumes are not a grid of the hierarchy from 4 x 4")
    return sizes


def least_bytes(sizes, cycles, file_bytes, inner=INNER):
    """Bytes the job moves at the least (see above); cycles counts the first
    finest-grid visit as cycle 1, as the history does."""
    a = [8.0 * s * s for s in sizes]
    top = len(a) - 1
    total = sum(a) + a[top]  # b of every grid, t
    total += inner * 3 * a[top] + 2 * a[top]  # first visit: sweeps, norm and residual
    coarse = coarse_inner(inner)
    for cycle in range(2, cycles + 1):
        for k in range(top - 1, -1, -1):  # descent
            total += a[k] if k == top - 1 else a[k + 1] + a[k]  # restriction
            total += 2 * a[k] + (coarse - 1) * 3 * a[k]  # sweeps from zero
            if k > 0:
                total += 3 * a[k]  # residual
        for k in range(1, top):  # ascent
            total += a[k - 1] + 2 * a[k] + coarse * 3 * a[k]
        total += a[top - 1] + 2 * a[top] + inner * 3 * a[top]  # finest grid
        total += 2 * a[top]  # norm and residual
    return total + file_bytes + a[top]


def write_input(folder, n, grids):
    with open(os.path.join(folder, "placatermo.ent"), "wb") as f:
        f.write(("r.res\r\nr.dis\r\nr.ite\r\n1.0\r\n1.0\r\n%d\r\n4\r\n4\r\n1e-8\r\n200\r\n2\r\n1e-3\r\n%d\r\n"
                 "1.2\r\n2\r\n'bound'\r\n" % (grids, INNER)).encode())


def timed(command, cwd, env, keep_output=False):
    """Wall seconds and peak resident KiB of one process, and its output when
    kept."""
    peak_file = os.path.join(cwd, ".peak")
    start = time.perf_counter()
    out = subprocess.run(["/usr/bin/time", "-o", peak_file, "-f", "%M"] + command, cwd=cwd, env=env, check=True,
                         stdout=subprocess.PIPE if keep_output else subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL).stdout
    seconds = time.perf_counter() - start
    with open(peak_file) as f:
        peak = int(f.read().split()[-1])
    os.remove(peak_file)
    return seconds, peak, out


def run_job(exe, n, one_core=False):
    """Whole seconds, processing seconds, cycles, bytes of the files and peak
    resident KiB of one job."""
    work = tempfile.mkdtemp(prefix="placatermo-bound-")
    try:
        write_input(work, n, len(grid_sizes(n)))
        env = {"PATH": "/nonexistent", "HOME": work}
        pin = ["/usr/bin/taskset", "-c", "0"] if one_core else []
        seconds, peak, _ = timed(pin + [os.path.abspath(exe), "--batch", "--multigrid=" + CYCLE], work, env)
        with open(os.path.join(work, "r.res"), "rb") as f:
            results = f.read()
        history = re.findall(rb"^ +([0-9]+) +[-0-9.E+]+\r$", results, re.M)
        cycles = int(history[-1]) if history else 0
        processing = re.findall(rb"^ *([-0-9.E+]+) = tempo de processamento \(s\)\r$", results, re.M)
        if len(processing) != 1:
            raise SystemExit(f"{n}²: the results file has no processing time")
        file_bytes = sum(os.path.getsize(os.path.join(work, name)) for name in os.listdir(work)
                         if name != "placatermo.ent")
        return seconds, float(processing[0]), cycles, file_bytes, peak
    finally:
        shutil.rmtree(work)


def run_fftw(exe, n, threads):
    """Whole seconds, first-solve seconds and peak resident KiB of one FFTW
    process; it fails (non-zero exit) when its solution is not the system's."""
    work = tempfile.mkdtemp(prefix="placatermo-fftw-")
    try:
        pin = ["/usr/bin/taskset", "-c", "0"] if threads == 1 else []
        seconds, peak, out = timed(pin + [os.path.abspath(exe), str(n), str(threads)], work, {"PATH": "/nonexistent"},
                                 keep_output=True)
        fields = out.split()
        if len(fields) != 4 or int(fields[0]) != n or float(fields[3]) > 1e-10:
            raise SystemExit(f"{n}²: FFTW said {out!r}")
        return seconds, float(fields[2]), peak
    finally:
        shutil.rmtree(work)


def run_petsc(n):
    env = dict(os.environ, PETSC_DIR=PETSC_DIR, PYTHONPATH=PETSC_DIR + "/lib/python3/dist-packages")
    here = os.path.dirname(os.path.abspath(__file__))
    out = subprocess.run(["/usr/bin/python3", os.path.join(here, "petsc_plate.py"), str(n), "boomeramg"], env=env,
                         check=True, capture_output=True, text=True).stdout.split()
    return float(out[1]), int(out[2])


def triad(exe):
    out = subprocess.run([exe], check=True, capture_output=True, text=True).stdout.split("\n")
    return {int(line.split()[0]): float(line.split()[1]) for line in out if line.strip()}


def main():
    args = sys.argv[1:]
    with_petsc = "--sem-petsc" not in args
    args = [a for a in args if a != "--sem-petsc"]
    global CYCLE
    for a in [a for a in args if a.startswith("--ciclo=")]:
        CYCLE = a[len("--ciclo="):]
        if CYCLE not in ("rapido", "classico"):
            raise SystemExit(f"{a}: the cycles raced are rapido and classico")
        args.remove(a)
    exe, triad_exe, fftw_exe = args[0], args[1], args[2]
    sizes = [int(s) for s in (args[3] if len(args) > 3 else "1024 2048 4096").split()]
    bandwidth = triad(triad_exe)
    best = max(bandwidth.values())
    print("Triad: " + ", ".join(f"{t} thread{'s' if t > 1 else ''} {gb:.1f} GB/s" for t, gb in sorted(bandwidth.items()))
          + f"; the bound uses {best:.1f} GB/s")
    print()
    print("| real volumes | placatermo s (median of 3) | cycles | PETSc CG + BoomerAMG s (median of 3) "
          "| PETSc / placatermo | least bytes (GB) | bound s | placatermo / bound | peak MiB | bytes / finest unknown |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    race = []
    for n in sizes:
        jobs, one_core, fftw2, fftw1, petsc = [], [], [], [], []
        for _ in range(3):  # alternated
            jobs.append(run_job(exe, n))
            fftw2.append(run_fftw(fftw_exe, n, 2))
            one_core.append(run_job(exe, n, one_core=True))
            fftw1.append(run_fftw(fftw_exe, n, 1))
            if with_petsc:
                petsc.append(run_petsc(n))
        seconds = statistics.median(j[0] for j in jobs)
        _, _, cycles, file_bytes, _ = jobs[0]
        peak = max(j[4] for j in jobs)
        sizes_n = grid_sizes(n)
        moved = least_bytes(sizes_n, cycles, file_bytes)
        bound = moved / (best * 1e9)
        unknowns = sizes_n[-1] ** 2
        if petsc:
            petsc_seconds = statistics.median(p[0] for p in petsc)
            petsc_cells = f"{petsc_seconds:.2f} | {petsc_seconds / seconds:.1f}×"
        else:
            petsc_cells = "— | —"
        print(f"| {n}² | {seconds:.2f} | {cycles} | {petsc_cells} "
              f"| {moved / 1e9:.2f} | {bound:.2f} | {seconds / bound:.2f} | {peak / 1024:.0f} "
              f"| {peak * 1024 / unknowns:.1f} |")
        sys.stdout.flush()
        processing = statistics.median(j[1] for j in jobs)
        processing_one = statistics.median(j[1] for j in one_core)
        first2 = statistics.median(f[1] for f in fftw2)
        whole2 = statistics.median(f[0] for f in fftw2)
        first1 = statistics.median(f[1] for f in fftw1)
        whole1 = statistics.median(f[0] for f in fftw1)
        fftw_peak = max(f[2] for f in fftw2 + fftw1)
        race.append(f"| {n}² | {processing:.3f} | {first2:.3f} | {first2 / processing:.2f} | {seconds:.3f} "
                    f"| {whole2:.3f} | {whole2 / seconds:.2f} | {first1:.3f} | {whole1:.3f} | {processing_one:.3f} "
                    f"| {processing_one / processing:.2f} | {peak / 1024:.0f} | {fftw_peak / 1024:.0f} |")
    print()
    print("FFTW (DST-II / DST-III, FFTW_ESTIMATE) against the job; medians of 3; processing = the job's results file, "
          "first solve = FFTW's allocation, fill, plan and solve; whole = the process on the parent's clock:")
    print()
    print("| real volumes | placatermo processing s | FFTW 2 threads first solve s | FFTW / placatermo "
          "| placatermo whole s | FFTW 2 threads whole s | FFTW / placatermo (whole) | FFTW 1 thread first solve s "
          "| FFTW 1 thread whole s | placatermo processing on 1 core s | 1 core / 2 cores | placatermo peak MiB "
          "| FFTW peak MiB |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    print("\n".join(race))


if __name__ == "__main__":
    main()
