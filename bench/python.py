#!/usr/bin/python3
"""The Python module against the program on the same run: the textbook cycle
on a finest grid of 1026 x 1026 volumes (ten grids from 4 x 4, Gauss-Seidel,
sinusoidal plate, to a ratio of 1e-6), each solved three times, alternating,
comparing the processing times that each reports (tempo_s).

    bench/python.py [BUILD]   (default: build; built with -DPLACATERMO_PYTHON=ON)
"""
import glob
import json
import os
import statistics
import subprocess
import sys
import tempfile

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
sys.path.insert(0, os.path.join(build, "python"))
import placatermo  # noqa: E402

VALUES = {"malhas": 10, "nx": 4, "ny": 4, "solver": "gauss-seidel", "iteracoes_internas_max": 1,
          "cc": "senoidal", "tolerancia": 1e-6, "titulo": "bench"}


def program_seconds(folder):
    arguments = [os.path.join(build, "placatermo"), "--batch", "--json", "--multigrid=classico"]
    for name, value in VALUES.items():
        arguments += ["--definir", f"{name}={value}"]
    subprocess.run(arguments, cwd=folder, check=True, capture_output=True, env={"PATH": "/nonexistent"})
    record = json.load(open(glob.glob(os.path.join(folder, "*.json"))[0]))
    return record["tempo_s"], record["iteracoes"]


def module_seconds(entrada):
    result = placatermo.resolver(entrada, multigrid="classico")
    return result.tempo_s, result.iteracoes


entrada = placatermo.Entrada(**VALUES)
program, module = [], []
with tempfile.TemporaryDirectory() as folder:
    for _ in range(3):
        seconds, iterations = program_seconds(folder)
        program.append(seconds)
        seconds, module_iterations = module_seconds(entrada)
        module.append(seconds)
        assert iterations == module_iterations
print(f"programa: {' '.join(f'{s:.3f}' for s in program)} s (mediana {statistics.median(program):.3f} s)")
print(f"módulo:   {' '.join(f'{s:.3f}' for s in module)} s (mediana {statistics.median(module):.3f} s)")
print(f"razão módulo/programa: {statistics.median(module) / statistics.median(program):.3f} ({iterations} iterações)")
