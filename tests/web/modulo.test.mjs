// The module under node writes the native program's bytes: for each case the
// module's files equal those the program writes from the module's own
// placatermo.ent (run with --batch --json --vtk), time lines aside; a value
// the module refuses is refused by the program's reader with the same text.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';

import { carregarModulo, dadosDoModulo, diferenca, faltaModulo, rodarNativo, semLugar } from './comum.mjs';

const falta = faltaModulo();
const agora = [2026, 1, 2, 3, 4, 5];

// The values that differ from the defaults, the cycle; the sinusoidal plate's
// numbers may differ in their last digit (sin/sinh/cosh/tanh of two libraries).
const casos = [
  ['padrão: Gauss-Seidel, 3 malhas, ciclo especificado', {}, null],
  ['Jacobi numa malha', { solver: '1', malhas: '1', nx: '18', ny: '12' }, null],
  ['SOR, ciclo clássico', { solver: '3', malhas: '4', nx: '5', ny: '7', relaxacao_sor: '1.3' }, 'classico'],
  ['ADI, placa senoidal', { solver: '4', cc: '2', titulo: 'Placa senoidal, ADI' }, null],
  ['MSI, placa senoidal, ciclo clássico', { solver: '5', cc: '2', malhas: '5', lx: '2.0' }, 'classico'],
  ['MSI numa malha retangular', { solver: '5', malhas: '1', nx: '40', ny: '22', ly: '0.5' }, null],
  ['Gauss-Seidel sem convergir', { malhas: '1', nx: '66', ny: '66', iteracoes_externas_max: '7' }, null],
  ['SOR divergente', { solver: '3', relaxacao_sor: '2.6', iteracoes_externas_max: '300' }, null],
  ['nenhum solver, ciclo especificado explícito', { solver: '0', tolerancia: '1e-3' }, 'especificado'],
  // grids wide enough for the second thread of the module with threads
  ['ciclo clássico até 514 × 130', { malhas: '8', ny: '3', iteracoes_externas_max: '3' }, 'classico'],
  ['ciclo rápido até 514 × 130', { malhas: '8', ny: '3', iteracoes_externas_max: '3' }, 'rapido'],
];

describe('o módulo grava os bytes do programa', { skip: falta }, () => {
  // the module without threads and the one with them
  const modulos = {};
  before(async () => {
    for (const nome of ['placatermo', 'placatermo-fios']) modulos[nome] = await carregarModulo(nome);
  });
  // its thread's worker would keep node running
  after(() => modulos['placatermo-fios']?.PThread.terminateAllThreads());

  for (const [nome, valores, ciclo] of casos) {
    test(nome, () => {
      let nativa;
      for (const [modulo, N] of Object.entries(modulos)) {
        const r = JSON.parse(N.ccall('placatermo_resolver', 'string', ['string', 'string'],
          [JSON.stringify(valores), JSON.stringify({ ciclo, agora })]));
        assert.notEqual(typeof r.erro, 'string', r.erro);
        const arquivos = Object.fromEntries(r.arquivos.map((a) => [a, dadosDoModulo(N, a)]));
        nativa ??= rodarNativo(arquivos['placatermo.ent'], ciclo ? [`--multigrid=${ciclo}`] : []);
        assert.equal(nativa.status, 0, nativa.stderr);
        assert.equal(r.arquivos.length, 7);
        for (const arquivo of r.arquivos) {
          assert.ok(nativa.arquivos[arquivo], `o programa não gravou ${arquivo}`);
          const d = diferenca(arquivos[arquivo], nativa.arquivos[arquivo], valores.cc === '2');
          assert.equal(d, null, `${modulo}, ${arquivo}: ${d}`);
        }
      }
    });
  }

  // value, the line it is on in placatermo.ent, the wrong text
  const recusas = [
    ['nx', 7, '2'],
    ['lx', 4, 'um'],
    ['iteracoes_internas_max', 13, '0', { solver: '5' }],
    ['malhas', 6, '40'],
  ];
  test('um valor recusado: a mensagem do leitor do programa', () => {
    const M = modulos.placatermo;
    M.ccall('placatermo_resolver', 'string', ['string', 'string'], ['{}', JSON.stringify({ agora })]);
    const padrao = dadosDoModulo(M, 'placatermo.ent').toString('latin1');
    for (const [nome, linha, texto, outros = {}] of recusas) {
      const valores = { ...outros, [nome]: texto };
      const conferido = JSON.parse(M.ccall('placatermo_conferir', 'string', ['string'], [JSON.stringify(valores)]));
      assert.equal(conferido.erros.length, 1, JSON.stringify(conferido));
      const r = JSON.parse(M.ccall('placatermo_resolver', 'string', ['string', 'string'],
        [JSON.stringify(valores), JSON.stringify({ agora })]));
      assert.equal(r.erro, conferido.erros[0].mensagem);
      // the default file with the wrong text in its place
      const linhas = padrao.split('\r\n');
      const trocar = (n, t) => { linhas[n - 1] = linhas[n - 1].replace(/^\S+/, t); };
      trocar(linha, texto);
      if (outros.solver) trocar(11, outros.solver);
      const nativa = rodarNativo(Buffer.from(linhas.join('\r\n'), 'latin1'));
      assert.notEqual(nativa.status, 0);
      assert.deepEqual(Object.keys(nativa.arquivos), ['placatermo.ent']);
      const linhaErro = nativa.stderr.split('\n').find((l) => l.includes('placatermo.ent'));
      assert.ok(linhaErro, nativa.stderr);
      assert.equal(semLugar(r.erro), semLugar(linhaErro), `${nome}=${texto}`);
    }
  });
});
