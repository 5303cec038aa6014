"""placatermo em Python: a difusão de calor permanente numa placa, resolvida
pela mesma biblioteca do programa ``placatermo``.

    import placatermo
    entrada = placatermo.Entrada(solver="sor", nx=66, ny=66)
    r = placatermo.resolver(entrada)
    r.iteracoes, r.convergiu, r.tmedia.numerica
    r.t            # o campo de temperaturas (ny linhas por nx colunas, contorno incluído)
    r.gravar("execucao")   # os arquivos do programa, os mesmos bytes

Os nomes dos valores de entrada são as chaves do registro JSON das execuções
(``placatermo.Entrada.nomes()``).
"""

import csv as _csv
import os as _os
import threading as _threading
from types import SimpleNamespace as _Valores

from . import _placatermo

__all__ = ["Entrada", "Resultado", "ErroDeEntrada", "Parada", "resolver", "estudo"]
__version__ = _placatermo.versao


class ErroDeEntrada(ValueError):
    """Um valor de entrada que o programa recusa; a mensagem é a do programa e
    nomeia o valor (``erro no valor "número de malhas": ...``). Também para um
    valor de tipo errado (uma lista, ``None``, ``True``)."""


class Parada(Exception):
    """A solução parada porque ``ao_iterar`` devolveu ``False``; ``iteracao`` é a
    última iteração externa feita. Nenhum arquivo é gravado."""

    def __init__(self, iteracao):
        super().__init__(f"execução interrompida na iteração externa {iteracao}")
        self.iteracao = iteracao


_placatermo._definir_erro(ErroDeEntrada)
_NOMES = [nome for _, nome in _placatermo.nomes()]


def _texto(nome, valor):
    if isinstance(valor, bool) or not isinstance(valor, (str, int, float)):
        raise ErroDeEntrada(
            f'erro no valor "{nome}": {type(valor).__name__} não é um valor de entrada '
            "(um número ou um texto)")
    if isinstance(valor, float):
        return repr(valor)
    return str(valor)


class Entrada:
    """A entrada de uma execução: os bytes de ``placatermo.ent``.

    ``Entrada()`` é a entrada padrão do programa; ``Entrada.ler(caminho)`` lê
    um arquivo. Cada valor é um atributo com o nome do registro JSON
    (``titulo``, ``lx``, ``malhas``, ``nx``, ``ny``, ``solver``, ``cc``, ...) e
    pode ser dado também ao construtor: ``Entrada(solver="sor", nx=34)``. O
    solver e a condição de contorno vão por número ou por nome (``"sor"``,
    ``"senoidal"``); lidos, são números.

    Cada valor mudado é conferido com as regras do programa e escrito no seu
    lugar, como ``--definir`` escreve: ``bytes(entrada)`` e ``gravar`` dão o
    arquivo byte por byte. Um valor recusado levanta ``ErroDeEntrada``.
    """

    __slots__ = ("_bytes",)

    def __init__(self, **valores):
        object.__setattr__(self, "_bytes", _placatermo.entrada_padrao())
        for nome, valor in valores.items():
            setattr(self, nome, valor)

    @classmethod
    def ler(cls, caminho, **valores):
        """Lê o arquivo de entrada ``caminho`` (conferido: um erro nomeia o
        arquivo, a linha e o parâmetro); ``valores`` mudam-no como no construtor."""
        with open(caminho, "rb") as arquivo:
            dados = arquivo.read()
        _placatermo.valores(dados, _os.fsdecode(caminho))
        entrada = cls.__new__(cls)
        object.__setattr__(entrada, "_bytes", dados)
        for nome, valor in valores.items():
            setattr(entrada, nome, valor)
        return entrada

    @staticmethod
    def nomes():
        """Os nomes dos valores, na ordem do arquivo."""
        return list(_NOMES)

    def valores(self):
        """Todos os valores, por nome."""
        valores = _placatermo.valores(self._bytes)
        del valores["_avisos"]
        return valores

    @property
    def avisos(self):
        """Os avisos do programa sobre esta entrada."""
        return list(_placatermo.valores(self._bytes)["_avisos"])

    def __getattr__(self, nome):
        if nome.startswith("_") or nome not in _NOMES:
            raise AttributeError(f"Entrada não tem o valor {nome!r} (os valores: {', '.join(_NOMES)})")
        return _placatermo.valores(self._bytes)[nome]

    def __setattr__(self, nome, valor):
        if nome not in _NOMES:
            raise AttributeError(f"Entrada não tem o valor {nome!r} (os valores: {', '.join(_NOMES)})")
        rotulo = nome
        object.__setattr__(self, "_bytes", _placatermo.definir(self._bytes, nome, _texto(rotulo, valor)))

    def __bytes__(self):
        return bytes(self._bytes)

    def gravar(self, caminho):
        """Grava o arquivo de entrada em ``caminho`` (inteiro ou nada)."""
        _gravar_inteiro(caminho, self._bytes)

    def copia(self):
        """Uma cópia independente."""
        entrada = Entrada.__new__(Entrada)
        object.__setattr__(entrada, "_bytes", self._bytes)
        return entrada

    def __repr__(self):
        return "Entrada(" + ", ".join(f"{n}={v!r}" for n, v in self.valores().items()) + ")"


def _gravar_inteiro(caminho, dados):
    temporario = f"{caminho}.{_os.getpid()}.tmp"
    with open(temporario, "wb") as arquivo:
        arquivo.write(dados)
        arquivo.flush()
        _os.fsync(arquivo.fileno())
    _os.replace(temporario, caminho)


class Resultado:
    """O que uma solução calculou.

    ``t`` e ``analitica``: os campos numérico e analítico, arrays numpy de
    ``ny`` linhas (de sul a norte) por ``nx`` colunas (de oeste a leste), os
    valores de contorno incluídos, como o arquivo VTK os guarda; ``x`` e
    ``y``: as posições das colunas e das linhas; ``historico``: a razão de
    cada iteração externa. Os arrays são só de leitura (sem cópia dos valores
    calculados). ``tmedia`` e ``q_norte`` têm ``numerica`` e ``analitica``;
    ``erro`` tem ``l1``, ``l2`` e ``max``. Com ``resolver(..., quadros=True)``,
    ``quadros`` tem os quadros da animação do programa (``iteracao``, ``razao``,
    ``maior_erro`` e os mapas ``erro`` e ``log_residuo``, float32); senão é vazio.
    """

    def __init__(self, dados, entrada):
        self._solucao = dados.pop("_solucao")
        self.entrada = entrada
        self.t = dados["t"]
        self.analitica = dados["analitica"]
        self.x = dados["x"]
        self.y = dados["y"]
        self.historico = dados["historico"]
        self.iteracoes = dados["iteracoes"]
        self.convergiu = dados["convergiu"]
        self.ultima_razao = dados["ultima_razao"]
        self.tmedia = _Valores(numerica=dados["tmedia"][0], analitica=dados["tmedia"][1])
        self.q_norte = _Valores(numerica=dados["q_norte"][0], analitica=dados["q_norte"][1])
        self.erro = _Valores(l1=dados["erro"][0], l2=dados["erro"][1], max=dados["erro"][2])
        self.fator_convergencia = dados["fator_convergencia"]
        self.tempo_s = dados["tempo_s"]
        self.avisos = dados["avisos"]
        self.quadros = [_Valores(**quadro) for quadro in dados["quadros"]]

    def gravar(self, pasta="."):
        """Grava na pasta (criada se falta) os arquivos do programa: a entrada,
        os resultados, o resumo, Tx.dat, Ty.dat, o registro JSON e o arquivo
        VTK, os mesmos bytes que o programa grava (as linhas de data e de
        tempo à parte), cada um inteiro. Devolve os nomes gravados."""
        return _placatermo.gravar(self._solucao, _os.fsdecode(pasta))

    def __repr__(self):
        return (f"<Resultado: {self.iteracoes} iterações, convergiu={self.convergiu}, "
                f"tmedia={self.tmedia.numerica!r}>")


def resolver(entrada=None, multigrid=None, ao_iterar=None, quadros=False):
    """Resolve a placa de ``entrada`` (a padrão quando ``None``) e devolve o
    ``Resultado``.

    ``multigrid``: o ciclo com mais de uma malha, ``"especificado"`` (o
    padrão), ``"classico"`` ou ``"rapido"``. ``ao_iterar(iteracao, razao)`` é chamada a
    cada linha do histórico; se devolve ``False`` a solução para e levanta
    ``Parada``. Durante a solução o GIL fica livre; Ctrl-C a interrompe em
    menos de um décimo de segundo (``KeyboardInterrupt``). Nenhum arquivo é
    gravado (veja ``Resultado.gravar``). ``quadros``: guarda os quadros da
    iteração que ``--animacao`` desenha (``Resultado.quadros``).
    """
    if entrada is None:
        entrada = Entrada()
    dados = _placatermo.resolver(bytes(entrada), multigrid, ao_iterar, bool(quadros))
    if "parada" in dados:
        raise Parada(dados["parada"])
    return Resultado(dados, entrada.copia())


def _numero(texto):
    for tipo in (int, float):
        try:
            return tipo(texto)
        except ValueError:
            pass
    return texto


def estudo(pasta, variar, multigrid=None, tarefas=None):
    """Roda um estudo na pasta como ``placatermo estudo`` (a entrada base é o
    ``placatermo.ent`` da pasta atual, ou a padrão) e devolve as linhas de
    ``estudo.csv``: um DataFrame do pandas quando ele está instalado, senão
    uma lista de dicionários (números como números).

    ``variar``: ``{"nx": [18, 34], "solver": ["gauss-seidel", "sor"]}``;
    ``multigrid``: uma lista de ciclos (``["especificado", "classico"]``);
    ``tarefas``: quantas execuções ao mesmo tempo. Ctrl-C para as execuções e
    grava a tabela das que terminaram, como no programa, e levanta
    ``KeyboardInterrupt``.
    """
    argumentos = []
    for nome, lista in variar.items():
        registro = _placatermo.registro(str(nome))
        argumentos += ["--variar", f"{registro}=" + ",".join(_texto(nome, v) for v in lista)]
    if multigrid:
        argumentos.append("--multigrid=" + ",".join(multigrid))
    if tarefas is not None:
        argumentos += ["--tarefas", str(int(tarefas))]
    # the folder last, after "--": a name that begins with '-' is a folder too
    argumentos += ["--", _os.fsdecode(pasta)]
    # the study on a thread of its own, so that Ctrl-C reaches this one: the
    # study then stops its runs and writes its table, as the program's does
    desfecho = {}
    # the end told by an event: a join interrupted by Ctrl-C may take the
    # thread for ended when it is not
    terminou = _threading.Event()

    def rodar():
        try:
            desfecho["estado"] = _placatermo.estudo(argumentos)
        except BaseException as erro:  # passa a quem chamou
            desfecho["erro"] = erro
        finally:
            terminou.set()

    _threading.Thread(target=rodar, name="placatermo-estudo", daemon=True).start()
    try:
        while not terminou.wait(0.05):
            pass
    except KeyboardInterrupt:
        _placatermo.parar_estudo()
        terminou.wait()
        raise
    if "erro" in desfecho:
        raise desfecho["erro"]
    with open(_os.path.join(pasta, "estudo.csv"), newline="", encoding="utf-8") as arquivo:
        linhas = [{k: _numero(v) for k, v in linha.items()} for linha in _csv.DictReader(arquivo)]
    try:
        import pandas
    except ImportError:
        return linhas
    return pandas.DataFrame(linhas)
