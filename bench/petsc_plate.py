"""The plate's five-point system, solved by PETSc for comparison.

The discrete system is the program's: n x n real volumes of a square plate,
the sinusoidal boundary condition, the ghost volumes eliminated (a ghost
value is twice the boundary value minus its real neighbour). Prints one line
per method: seconds for assembly, set-up and solve together, iterations, and
the relative residual reached.

Usage: petsc_plate.py N [METHOD ...]   (methods: boomeramg gamg mumps)
"""
import sys
import time

import numpy as np
import petsc4py

petsc4py.init(sys.argv[:1])
from petsc4py import PETSc  # noqa: E402


def csr(n):
    """Rows of the real volumes, x fastest; coefficient ap 4 (+1 per side on
    the boundary), -1 for each real neighbour; right-hand side from the
    north ghosts: 2 sin(pi x)."""
    i, j = np.meshgrid(np.arange(n), np.arange(n))
    i, j = i.ravel(), j.ravel()
    row = i + n * j
    diagonal = 4.0 + (i == 0) + (i == n - 1) + (j == 0) + (j == n - 1)
    rows, cols, vals = [row], [row], [diagonal]
    for di, dj in ((-1, 0), (1, 0), (0, -1), (0, 1)):
        inside = (i + di >= 0) & (i + di < n) & (j + dj >= 0) & (j + dj < n)
        rows.append(row[inside])
        cols.append((i + di + n * (j + dj))[inside])
        vals.append(-np.ones(inside.sum()))
    rows, cols, vals = np.concatenate(rows), np.concatenate(cols), np.concatenate(vals)
    order = np.lexsort((cols, rows))
    rows, cols, vals = rows[order], cols[order], vals[order]
    indptr = np.zeros(n * n + 1, dtype=PETSc.IntType)
    np.add.at(indptr, rows + 1, 1)
    indptr = np.cumsum(indptr, dtype=PETSc.IntType)
    x = (np.arange(n) + 0.5) / n
    b = np.zeros(n * n)
    b[n * (n - 1):] = 2.0 * np.sin(np.pi * x)
    return indptr, cols.astype(PETSc.IntType), vals, b


def solve(n, method, parts):
    indptr, cols, vals, rhs = parts
    start = time.perf_counter()
    a = PETSc.Mat().createAIJ(size=(n * n, n * n), csr=(indptr, cols, vals))
    a.assemble()
    b = a.createVecLeft()
    b.setArray(rhs)
    x = a.createVecRight()
    ksp = PETSc.KSP().create()
    ksp.setOperators(a)
    pc = ksp.getPC()
    if method == "mumps":
        ksp.setType("preonly")
        pc.setType("lu")
        pc.setFactorSolverType("mumps")
    else:
        ksp.setType("cg")
        if method == "boomeramg":
            pc.setType("hypre")
            pc.setHYPREType("boomeramg")
        else:
            pc.setType("gamg")
        ksp.setTolerances(rtol=1e-8, atol=0.0)
        ksp.setNormType(PETSc.KSP.NormType.UNPRECONDITIONED)
    ksp.setUp()
    ksp.solve(b, x)
    seconds = time.perf_counter() - start
    r = b.duplicate()
    a.mult(x, r)
    r.aypx(-1.0, b)
    return seconds, ksp.getIterationNumber(), r.norm() / b.norm()


def main():
    n = int(sys.argv[1])
    parts = csr(n)
    for method in sys.argv[2:] or ["boomeramg", "gamg"]:
        seconds, iterations, relative = solve(n, method, parts)
        print(f"{method} {seconds:.3f} {iterations} {relative:.2e}")


if __name__ == "__main__":
    main()
