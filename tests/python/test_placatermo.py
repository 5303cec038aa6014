# The Python module against the program built beside it: the same fields to
# the bit, the same record, the same messages, a callback and Ctrl-C that
# stop a run, a study's table.
import _thread
import csv
import glob
import json
import os
import subprocess
import threading
import time

import numpy as np
import pytest

import placatermo

PROGRAM = os.environ["PLACATERMO_PROGRAM"]
SOLVERS = ["jacobi", "gauss-seidel", "sor", "adi", "msi"]


def run_program(folder, settings, *options):
    arguments = [PROGRAM, "--batch", "--vtk", "--json", *options]
    for name, value in settings.items():
        arguments += ["--definir", f"{name}={value}"]
    subprocess.run(arguments, cwd=folder, check=True, capture_output=True, env={"PATH": "/usr/bin:/bin"})


def vtk_field(path, name):
    data = open(path, "rb").read()
    nx, ny = map(int, data.split(b"DIMENSIONS ")[1].split(b"\n")[0].split()[:2])
    start = data.index(b"SCALARS " + name + b" double 1\nLOOKUP_TABLE default\n")
    start = data.index(b"\n", data.index(b"LOOKUP_TABLE", start)) + 1
    return np.frombuffer(data, dtype=">f8", count=nx * ny, offset=start).reshape(ny, nx)


def without_clock(text):
    # the date, the hour and the processing time change from run to run
    return [line for line in text.split(b"\r\n") if not any(
        word in line for word in (b"/20", b"TEMPO", b"tempo", b"segundos"))]


CASES = [({"solver": s, "nx": 10, "ny": 10, "malhas": 1}, None) for s in SOLVERS] + [
    ({"solver": s, "nx": 6, "ny": 6, "malhas": 3}, c) for s in SOLVERS for c in ("especificado", "classico", "rapido")]


@pytest.mark.parametrize("settings,cycle", CASES)
def test_fields_equal_the_programs_vtk_to_the_bit(tmp_path, settings, cycle):
    run_program(tmp_path, settings, *([f"--multigrid={cycle}"] if cycle else []))
    result = placatermo.resolver(placatermo.Entrada(**settings), multigrid=cycle)
    vtk = glob.glob(str(tmp_path / "*.vtk"))[0]
    assert result.t.shape == (result.y.size, result.x.size)
    assert result.t.tobytes() == vtk_field(vtk, b"temperatura").astype("<f8").tobytes()
    assert result.analitica.tobytes() == vtk_field(vtk, b"temperatura_analitica").astype("<f8").tobytes()
    assert not result.t.flags.writeable

    # the files: the program's bytes, the clock's lines aside
    written = tmp_path / "modulo"
    names = result.gravar(written)
    for name in names:
        mine, program = (written / name).read_bytes(), (tmp_path / name).read_bytes()
        if name.endswith(".json"):
            a, b = json.loads(mine), json.loads(program)
            for record in (a, b):
                record.pop("tempo_processamento_s", None)
                record.pop("data", None)
            assert a.keys() == b.keys()
        elif name.endswith(".vtk"):
            assert mine.split(b"\n", 2)[2] == program.split(b"\n", 2)[2]
        else:
            assert without_clock(mine) == without_clock(program), name


def test_the_record_holds_the_outcomes_values(tmp_path):
    result = placatermo.resolver(placatermo.Entrada(solver="gauss-seidel", nx=18, ny=18, malhas=1), quadros=True)
    result.gravar(tmp_path)
    assert result.quadros[-1].erro.ndim == 2 and result.quadros[-1].iteracao <= result.iteracoes
    record = json.loads(next(p for p in tmp_path.iterdir() if p.suffix == ".json").read_text())
    assert result.convergiu and result.iteracoes > 5
    for key in ("iteracoes", "convergiu", "fator_convergencia", "tempo_s"):
        assert record[key] == getattr(result, key), key
    for key, parts in (("tmedia", ("numerica", "analitica")), ("q_norte", ("numerica", "analitica")),
                       ("erro", ("l1", "l2", "max"))):
        for part in parts:
            assert record[key][part] == getattr(getattr(result, key), part), (key, part)
    assert record["historico"] == result.historico.tolist()
    assert {k: v for k, v in record["entrada"].items()} == {
        k: v for k, v in result.entrada.valores().items() if k not in ("nx", "ny")}


def test_the_input_is_the_file_that_definir_writes(tmp_path):
    entrada = placatermo.Entrada(solver="sor", cc="senoidal", nx=34, titulo="Placa à prova")
    run_program(tmp_path, {"solver": "sor", "cc": "senoidal", "nx": 34, "titulo": "Placa à prova"})
    assert bytes(entrada) == (tmp_path / "placatermo.ent").read_bytes()
    assert entrada.solver == 3 and entrada.cc == 2 and entrada.titulo == "Placa à prova"
    entrada.gravar(tmp_path / "copia.ent")
    again = placatermo.Entrada.ler(tmp_path / "copia.ent", nx=18)
    assert again.nx == 18 and again.solver == 3


@pytest.mark.parametrize("name,value", [
    ("malhas", 0), ("malhas", 99), ("nx", 1), ("nx", "abc"), ("nx", 2.5), ("solver", "newton"),
    ("tolerancia", "1,5"), ("titulo", "a\tb"), ("nx", [3]), ("solver", None), ("cc", True)])
def test_wrong_values_raise_the_programs_message(tmp_path, name, value):
    with pytest.raises(placatermo.ErroDeEntrada) as raised:
        placatermo.Entrada(**{name: value})
    message = str(raised.value)
    assert message.startswith("erro no valor \""), message
    if isinstance(value, (str, float)) or type(value) is int:
        # the program says the same for the same value
        done = subprocess.run([PROGRAM, "--batch", "--definir", f"{name}={value}"], cwd=tmp_path,
                              capture_output=True, env={"PATH": "/usr/bin:/bin"})
        assert done.returncode != 0
        # after the value's name (the program names the file or the option)
        assert message.split('": ', 1)[1] in done.stderr.decode()
    assert isinstance(raised.value, ValueError)


def test_the_callback_stops_a_run_after_five_lines(tmp_path):
    lines = []

    def ao_iterar(iteracao, razao):
        lines.append((iteracao, razao))
        return len(lines) < 5
    with pytest.raises(placatermo.Parada) as raised:
        placatermo.resolver(placatermo.Entrada(solver="jacobi", nx=66, ny=66), ao_iterar=ao_iterar)
    assert len(lines) == 5 and raised.value.iteracao == lines[-1][0]


def test_an_interrupt_stops_the_solution_within_a_tenth_of_a_second():
    # no callback: the solution itself looks at Python's signals
    entrada = placatermo.Entrada(solver="jacobi", malhas=1, nx=514, ny=514, tolerancia=1e-300,
                                 iteracoes_externas_max=1000000)
    asked = []

    def interrupt():
        time.sleep(0.5)
        asked.append(time.monotonic())
        _thread.interrupt_main()

    threading.Thread(target=interrupt, daemon=True).start()
    with pytest.raises(KeyboardInterrupt):
        placatermo.resolver(entrada)
    took = time.monotonic() - asked[0]
    print(f"interrompida em {took * 1000:.1f} ms")
    assert took < 1.0


def test_an_interrupt_stops_a_study_which_writes_its_table(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    threading.Timer(0.5, _thread.interrupt_main).start()
    started = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        placatermo.estudo(tmp_path / "longo", variar={"nx": [514], "iteracoes_externas_max": [100000, 100001],
                                                      "tolerancia": ["1e-300"]}, tarefas=1)
    print(f"estudo interrompido em {time.monotonic() - started:.2f} s")
    assert (tmp_path / "longo" / "estudo.csv").exists()


def test_a_studys_rows_are_its_table(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    rows = placatermo.estudo(tmp_path / "estudo", variar={"nx": [10, 18], "solver": ["gauss-seidel", "sor"]},
                             tarefas=1)
    if hasattr(rows, "to_dict"):
        rows = rows.to_dict("records")
    with open(tmp_path / "estudo" / "estudo.csv", newline="", encoding="utf-8") as table:
        expected = list(csv.DictReader(table))
    assert len(rows) == len(expected) == 4
    for row, line in zip(rows, expected):
        for key, text in line.items():
            value = row[key]
            if isinstance(value, float) and value != value:
                assert text.lower() in ("nan", "")
            elif isinstance(value, (int, float)) and not isinstance(value, bool):
                assert value == float(text), key
            else:
                assert str(value) == text or (text == "" and value != value), key


def test_solutions_from_threads_at_once_are_each_alone(tmp_path):
    # 1026 x 258 with the ghosts, wide enough for the second thread of the
    # passes: the module runs one solution, or one writing of files, at a
    # time (without that, four threads at once hung on the second thread)
    entrada = placatermo.Entrada(solver="gauss-seidel", nx=6, ny=3, ly=0.25, malhas=9, iteracoes_internas_max=2)
    alone = placatermo.resolver(entrada, multigrid="classico")
    alone.gravar(tmp_path / "so")
    got, failed = [], []

    def solve(k):
        try:
            for _ in range(2):
                result = placatermo.resolver(entrada, multigrid="classico")
                got.append(result.t.tobytes())
            result.gravar(tmp_path / f"fio{k}")
        except BaseException as error:  # noqa: B902 - the thread reports it
            failed.append(error)

    threads = [threading.Thread(target=solve, args=(k,), daemon=True) for k in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=60)
    assert not any(thread.is_alive() for thread in threads) and not failed
    assert got == [alone.t.tobytes()] * 8
    for k in range(4):
        for path in (tmp_path / "so").iterdir():
            if path.suffix in (".res", ".dat", ".dis", ".ite"):
                assert without_clock((tmp_path / f"fio{k}" / path.name).read_bytes()) == without_clock(
                    path.read_bytes()), path.name
