"""Runs placatermo --batch --vtk on a few plates and reads each VTK file back
with VTK's own reader: the grid, the temperatures (against the field listed in
the results file), the analytical temperature and the error.

Usage: check_vtk.py PLACATERMO
Exit 0 when every check passes, 1 otherwise, 77 when VTK's Python module is
missing (the test is then reported as skipped).
"""
import math
import os
import subprocess
import sys
import tempfile

try:
    from vtkmodules.vtkIOLegacy import vtkRectilinearGridReader
except ImportError:
    print("o módulo vtk do Python não está instalado (apt-get install python3-vtk9)")
    sys.exit(77)

# name, lx, ly, grids, nx, ny, solver, boundary kind
CASES = [
    ("linear", "1.0", "1.0", "1", "6", "6", "2", "1"),
    ("senoidal", "1.0", "0.5", "1", "9", "6", "5", "2"),
    ("multigrid", "2.0", "0.6", "3", "5", "4", "2", "2"),
]


def input_file(lx, ly, grids, nx, ny, solver, bc):
    values = ["placa.res", "placa.dis", "placa.ite", lx, ly, grids, nx, ny, "1e-9", "500", solver,
              "1e-3", "3", "1.2", bc, "'Placa de teste'"]
    return "".join(v + "\r\n" for v in values)


def listed_field(results, nx, ny):
    """The temperatures listed in the results file, entry P - 1 for volume P."""
    lines = results.split("\r\n")
    start = lines.index(" " * 30 + "TEMPERATURAS")
    values = [None] * (nx * ny)
    row = 0
    first = 0
    for line in lines[start + 1:]:
        if line.startswith("  parte "):
            part = int(line[8:])
            first = (part - 1) * 8
            row = 0
            continue
        if not line.strip():
            if row >= ny:
                if first + 8 >= nx:
                    break
            continue
        if row >= ny:
            break
        fields = [line[k:k + 15] for k in range(0, len(line), 15)]
        for m, text in enumerate(fields):
            values[row * nx + first + m] = text
        row += 1
    return values


def analytical(x, y, lx, ly, bc):
    if bc == "1":
        return (x * 100.0) * y
    return math.sin((x * math.pi) / lx) * (math.sinh((y * math.pi) / lx) / math.sinh((ly * math.pi) / lx))


def check(exe, case):
    name, lx, ly, grids, nx1, ny1, solver, bc = case
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "placatermo.ent"), "w", newline="", encoding="cp1252") as f:
            f.write(input_file(lx, ly, grids, nx1, ny1, solver, bc))
        run = subprocess.run([exe, "--batch", "--vtk"], cwd=folder, capture_output=True)
        if run.returncode != 0:
            return [f"{name}: o programa terminou com {run.returncode}: {run.stderr!r}"]
        reader = vtkRectilinearGridReader()
        reader.SetFileName(os.path.join(folder, "placa.vtk"))
        reader.ReadAllScalarsOn()
        reader.Update()
        grid = reader.GetOutput()
        nx, ny, nz = grid.GetDimensions()
        k = int(grids) - 1
        if (nx, ny, nz) != ((int(nx1) - 2) * 2 ** k + 2, (int(ny1) - 2) * 2 ** k + 2, 1):
            return [f"{name}: dimensões {nx} x {ny} x {nz}"]
        xs = [grid.GetXCoordinates().GetValue(i) for i in range(nx)]
        ys = [grid.GetYCoordinates().GetValue(j) for j in range(ny)]
        dx, dy = float(lx) / (nx - 2), float(ly) / (ny - 2)
        for i, x in enumerate(xs):
            expected = 0.0 if i == 0 else float(lx) if i == nx - 1 else (i - 1) * dx + 0.5 * dx
            if abs(x - expected) > 1e-14:
                failures.append(f"{name}: x[{i}] = {x}, esperado {expected}")
        for j, y in enumerate(ys):
            expected = 0.0 if j == 0 else float(ly) if j == ny - 1 else (j - 1) * dy + 0.5 * dy
            if abs(y - expected) > 1e-14:
                failures.append(f"{name}: y[{j}] = {y}, esperado {expected}")
        data = grid.GetPointData()
        t = data.GetArray("temperatura")
        ta = data.GetArray("temperatura_analitica")
        err = data.GetArray("erro")
        boundary = data.GetArray("contorno")
        if None in (t, ta, err, boundary):
            return failures + [f"{name}: faltam campos no arquivo VTK"]
        with open(os.path.join(folder, "placa.res"), "rb") as f:
            listed = listed_field(f.read().decode("cp1252"), nx, ny)
        for j in range(ny):
            for i in range(nx):
                p = i + j * nx
                value = t.GetValue(p)
                if "%15.6E" % value != listed[p]:
                    failures.append(f"{name}: T({i + 1},{j + 1}) = {value!r}, listado {listed[p]!r}")
                exact = analytical(xs[i], ys[j], float(lx), float(ly), bc)
                if abs(ta.GetValue(p) - exact) > 1e-12 * (1 + abs(exact)):
                    failures.append(f"{name}: analítica({i + 1},{j + 1}) = {ta.GetValue(p)}, esperado {exact}")
                if err.GetValue(p) != value - ta.GetValue(p):
                    failures.append(f"{name}: erro({i + 1},{j + 1})")
                on_side = i in (0, nx - 1) or j in (0, ny - 1)
                if boundary.GetValue(p) != (1 if on_side else 0):
                    failures.append(f"{name}: contorno({i + 1},{j + 1})")
    return failures


def main():
    exe = os.path.abspath(sys.argv[1])
    failures = []
    for case in CASES:
        failures += check(exe, case)
    for failure in failures[:20]:
        print(failure)
    print(f"{len(CASES) - len({f.split(':')[0] for f in failures})} passed, "
          f"{len({f.split(':')[0] for f in failures})} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
