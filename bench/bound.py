#!/usr/bin/env python3
"""The textbook job against its memory-traffic bound and against PETSc.

The job: n x n real volumes of the sinusoidal plate, grids from 4 x 4 up,
--multigrid=classico with Gauss-Seidel (2 inner), to a ratio of 1e-8, the
whole process with every file it writes (no plotter). For each size, the
median of three runs of the job and of PETSc CG + BoomerAMG on the same
discrete system (bench/petsc_plate.py), alternated; the bytes the job must
move at the least; the triad bandwidth measured in the same run; and the
job's time over the bound.

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

Usage: bound.py EXE TRIAD [SIZES]   (default "1024 2048 4096")
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
    for cycle in range(2, cycles + 1):
        for k in range(top - 1, -1, -1):  # descent
            total += a[k] if k == top - 1 else a[k + 1] + a[k]  # restriction
            total += 2 * a[k] + (inner - 1) * 3 * a[k]  # sweeps from zero
            if k > 0:
                total += 3 * a[k]  # residual
        for k in range(1, top):  # ascent
            total += a[k - 1] + 2 * a[k] + inner * 3 * a[k]
        total += a[top - 1] + 2 * a[top] + inner * 3 * a[top]  # finest grid
        total += 2 * a[top]  # norm and residual
    return total + file_bytes + a[top]


def write_input(folder, n, grids):
    with open(os.path.join(folder, "placatermo.ent"), "wb") as f:
        f.write(("r.res\r\nr.dis\r\nr.ite\r\n1.0\r\n1.0\r\n%d\r\n4\r\n4\r\n1e-8\r\n200\r\n2\r\n1e-3\r\n%d\r\n"
                 "1.2\r\n2\r\n'bound'\r\n" % (grids, INNER)).encode())


def run_job(exe, n):
    """Seconds, cycles, bytes of the files and peak resident KiB of one job."""
    work = tempfile.mkdtemp(prefix="placatermo-bound-")
    try:
        write_input(work, n, len(grid_sizes(n)))
        peak_file = os.path.join(work, ".peak")
        env = {"PATH": "/nonexistent", "HOME": work}
        start = time.perf_counter()
        subprocess.run(["/usr/bin/time", "-o", peak_file, "-f", "%M", os.path.abspath(exe), "--batch",
                        "--multigrid=classico"], cwd=work, env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        seconds = time.perf_counter() - start
        with open(peak_file) as f:
            peak = int(f.read().split()[-1])
        os.remove(peak_file)
        with open(os.path.join(work, "r.res"), "rb") as f:
            history = re.findall(rb"^ +([0-9]+) +[-0-9.E+]+\r$", f.read(), re.M)
        cycles = int(history[-1]) if history else 0
        file_bytes = sum(os.path.getsize(os.path.join(work, name)) for name in os.listdir(work)
                         if name != "placatermo.ent")
        return seconds, cycles, file_bytes, peak
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
    exe, triad_exe = sys.argv[1], sys.argv[2]
    sizes = [int(s) for s in (sys.argv[3] if len(sys.argv) > 3 else "1024 2048 4096").split()]
    bandwidth = triad(triad_exe)
    best = max(bandwidth.values())
    print("Triad: " + ", ".join(f"{t} thread{'s' if t > 1 else ''} {gb:.1f} GB/s" for t, gb in sorted(bandwidth.items()))
          + f"; the bound uses {best:.1f} GB/s")
    print()
    print("| real volumes | placatermo s (median of 3) | cycles | PETSc CG + BoomerAMG s (median of 3) "
          "| PETSc / placatermo | least bytes (GB) | bound s | placatermo / bound | peak MiB | bytes / finest unknown |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for n in sizes:
        jobs, petsc = [], []
        for _ in range(3):  # alternated
            jobs.append(run_job(exe, n))
            petsc.append(run_petsc(n))
        seconds = statistics.median(j[0] for j in jobs)
        _, cycles, file_bytes, _ = jobs[0]
        peak = max(j[3] for j in jobs)
        petsc_seconds = statistics.median(p[0] for p in petsc)
        sizes_n = grid_sizes(n)
        moved = least_bytes(sizes_n, cycles, file_bytes)
        bound = moved / (best * 1e9)
        unknowns = sizes_n[-1] ** 2
        print(f"| {n}² | {seconds:.2f} | {cycles} | {petsc_seconds:.2f} | {petsc_seconds / seconds:.1f}× "
              f"| {moved / 1e9:.2f} | {bound:.2f} | {seconds / bound:.2f} | {peak / 1024:.0f} "
              f"| {peak * 1024 / unknowns:.1f} |")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
