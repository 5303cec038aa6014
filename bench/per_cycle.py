#!/usr/bin/env python3
"""Seconds per cycle per million finest unknowns, for docs/desempenho.md: both cycles
with Gauss-Seidel (2 inner), a fixed number of cycles (the tolerance is out
of reach), grids from 4 x 4 up to n real volumes a side. The time is the
processing time the results file states (the cycles, not the files), the
median of three runs.

Usage: per_cycle.py EXE [SIZES] [CYCLES]   (default "256 512 1024 2048 4096", 11)
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile


def grid_count(n):
    count, size = 1, 4
    while size < n + 2:
        size, count = (size - 2) * 2 + 2, count + 1
    return count


def solve_seconds(exe, n, cycle, cycles):
    work = tempfile.mkdtemp(prefix="placatermo-cycle-")
    try:
        with open(os.path.join(work, "placatermo.ent"), "wb") as f:
            f.write(("r.res\r\nr.dis\r\nr.ite\r\n1.0\r\n1.0\r\n%d\r\n4\r\n4\r\n1e-300\r\n%d\r\n2\r\n1e-3\r\n2\r\n"
                     "1.2\r\n2\r\n'ciclos'\r\n" % (grid_count(n), cycles)).encode())
        subprocess.run([os.path.abspath(exe), "--batch", "--multigrid=" + cycle], cwd=work,
                       env={"PATH": "/nonexistent", "HOME": work}, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        with open(os.path.join(work, "r.res"), "rb") as f:
            text = f.read()
        return float(re.search(rb"([0-9.E+-]+) = tempo de processamento", text).group(1))
    finally:
        shutil.rmtree(work)


def main():
    exe = sys.argv[1]
    sizes = [int(s) for s in (sys.argv[2] if len(sys.argv) > 2 else "256 512 1024 2048 4096").split()]
    cycles = int(sys.argv[3]) if len(sys.argv) > 3 else 11
    print("| volumes reais | malhas | clássico: s por ciclo por milhão de incógnitas "
          "| especificado: s por ciclo por milhão de incógnitas |")
    print("|---|---|---|---|")
    for n in sizes:
        unknowns = (n + 2) ** 2 / 1e6
        row = []
        for cycle in ("classico", "especificado"):
            seconds = statistics.median(solve_seconds(exe, n, cycle, cycles) for _ in range(3))
            row.append(seconds / cycles / unknowns)
        print(f"| {n}² | {grid_count(n)} | {row[0]:.4f} | {row[1]:.4f} |")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
