"""Compares the files of a run with the stored ones, line by line.

Lines with the date, the time of day or the processing time are left out (the
stored runs were made with a fixed clock). With --tolerance, numbers may
differ in their last digits (runs whose values pass through sin, sinh, cosh
or tanh, which come from the platform's library); every other byte must be
the same.

Usage: compare_runs.py STORED_FOLDER RUN_FOLDER FILE... [--tolerance]
Prints one line per difference; exit 1 when there is one.
"""
import re
import sys

NUMBER = re.compile(rb"-?\d+\.\d+E[+-]\d+")
TIME_DEPENDENT = (b"Dia = ", b"Hora = ", b"tempo de processamento", b"set title '")


def close(a, b):
    x, y = float(a), float(b)
    return abs(x - y) <= 1e-9 * max(abs(x), abs(y)) + 1e-12


def compare(stored, run, tolerance):
    problems = []
    stored_lines, run_lines = stored.split(b"\n"), run.split(b"\n")
    if len(stored_lines) != len(run_lines):
        return [f"{len(run_lines)} linhas em vez de {len(stored_lines)}"]
    for number, (s, r) in enumerate(zip(stored_lines, run_lines), start=1):
        if s == r or any(marker in s for marker in TIME_DEPENDENT):
            continue
        if tolerance and NUMBER.sub(b"#", s) == NUMBER.sub(b"#", r):
            if all(close(a, b) for a, b in zip(NUMBER.findall(s), NUMBER.findall(r))):
                continue
        problems.append(f"linha {number}: {s!r} != {r!r}")
    return problems


def main():
    args = [a for a in sys.argv[1:] if a != "--tolerance"]
    tolerance = "--tolerance" in sys.argv
    stored_folder, run_folder, files = args[0], args[1], args[2:]
    failed = False
    for name in files:
        with open(f"{stored_folder}/{name}", "rb") as f:
            stored = f.read()
        with open(f"{run_folder}/{name}", "rb") as f:
            run = f.read()
        for problem in compare(stored, run, tolerance)[:5]:
            print(f"{run_folder}/{name}: {problem}")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
