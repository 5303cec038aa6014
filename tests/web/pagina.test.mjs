// The page in a headless Chromium, served by web/serve.mjs: a run shows the
// program's numbers, its downloads are the program's bytes, a wrong value
// is refused beside its field, "Parar" stops a long run, a shared link
// restores the form, and the console shows no error throughout.
// With PLACATERMO_FIGURA=1 it also takes docs/navegador.png.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { existsSync } from 'node:fs';
import { createRequire } from 'node:module';
import { after, before, describe, test } from 'node:test';
import { join } from 'node:path';

import { diferenca, faltaModulo, raiz, rodarNativo, site } from './comum.mjs';

const chromium = '/usr/bin/chromium-headless-shell';
const requerer = createRequire(join(raiz, 'web/package.json'));
const falta = faltaModulo() ||
  (!existsSync(join(site, 'index.html')) && `sem a página em ${site}`) ||
  (!existsSync(chromium) && `sem o ${chromium}`) ||
  (!existsSync(join(raiz, 'web/node_modules/puppeteer-core')) && 'sem o puppeteer-core (npm ci em web/)');

const espera = { timeout: 60_000 };

describe('a página', { skip: falta }, () => {
  let servidor, navegador, pagina, endereco;
  const erros = [];

  before(async () => {
    servidor = spawn(process.execPath, [join(raiz, 'web/serve.mjs'), site, String(20000 + (process.pid % 20000))],
      { stdio: ['ignore', 'pipe', 'inherit'] });
    endereco = await new Promise((pronto, falhou) => {
      servidor.stdout.on('data', (d) => {
        const m = /http:\/\/[\d.:]+\//.exec(String(d));
        if (m) pronto(m[0]);
      });
      servidor.on('exit', (status) => falhou(new Error(`serve.mjs terminou (${status})`)));
    });
    const puppeteer = requerer('puppeteer-core');
    navegador = await puppeteer.launch({ executablePath: chromium, headless: 'shell', args: ['--no-sandbox'] });
    pagina = await navegador.newPage();
    await pagina.setViewport({ width: 1280, height: 900 });
    pagina.on('console', (m) => { if (m.type() === 'error') erros.push(`console: ${m.text()}`); });
    pagina.on('pageerror', (e) => erros.push(`página: ${e.message}`));
  });

  after(async () => {
    await navegador?.close();
    servidor?.kill();
  });

  const abrir = async (fragmento = '') => {
    // a page of its own each time: a new fragment alone loads nothing
    await pagina.goto('about:blank');
    await pagina.goto(endereco + (fragmento ? '#' + fragmento : ''));
    await pagina.waitForFunction(() => document.body.dataset.estado !== 'carregando', espera);
  };
  const estadoFinal = () =>
    pagina.waitForFunction(() => !['rodando', 'carregando'].includes(document.body.dataset.estado), espera)
      .then(() => pagina.evaluate(() => document.body.dataset.estado));
  const baixados = () => pagina.evaluate(async () => {
    const arquivos = {};
    for (const a of document.querySelectorAll('a[data-arquivo]')) {
      const bytes = new Uint8Array(await (await fetch(a.href)).arrayBuffer());
      let texto = '';
      for (const b of bytes) texto += String.fromCharCode(b);
      arquivos[a.dataset.arquivo] = btoa(texto);
    }
    return arquivos;
  }).then((a) => Object.fromEntries(Object.entries(a).map(([n, b]) => [n, Buffer.from(b, 'base64')])));

  test('a placa padrão: as iterações e a temperatura média do programa', async () => {
    await abrir();
    assert.equal(await pagina.evaluate(() => document.body.dataset.estado), 'pronta');
    await pagina.click('#resolver');
    assert.equal(await estadoFinal(), 'concluida');
    const arquivos = await baixados();
    const nativa = rodarNativo(arquivos['placatermo.ent']);
    const registro = JSON.parse(nativa.arquivos['placa.json'].toString('latin1'));
    const mostrado = await pagina.evaluate(() => ({
      iteracoes: document.querySelector('#iteracoes').textContent.trim(),
      tmedia: document.querySelector('#tmedia-numerica').dataset.valor,
    }));
    assert.equal(mostrado.iteracoes, String(registro.iteracoes));
    assert.equal(Number(mostrado.tmedia), registro.tmedia.numerica);
    assert.match(await pagina.evaluate(() => location.hash), /^$|^#$/);
    if (process.env.PLACATERMO_FIGURA === '1')
      await pagina.screenshot({ path: join(raiz, 'docs/navegador.png'), fullPage: true });
  });

  // fragment, sinusoidal plate
  const casos = [
    ['solver=3&malhas=4&nx=5&ny=7&ciclo=classico', false],
    ['solver=5&cc=2&malhas=1&nx=30&ny=20&titulo=Placa+senoidal%2C+MSI', true],
    ['solver=4&lx=2.0&iteracoes_externas_max=5', false],
  ];
  for (const [fragmento, senoidal] of casos) {
    test(`os arquivos baixados são os do programa: #${fragmento}`, async () => {
      await abrir(fragmento + '&rodar=1');
      assert.equal(await estadoFinal(), 'concluida');
      const arquivos = await baixados();
      assert.deepEqual(Object.keys(arquivos).sort(),
        ['Tx.dat', 'Ty.dat', 'placa.dis', 'placa.json', 'placa.res', 'placa.vtk', 'placatermo.ent']);
      // the cycle the page asked for, as the program's option (the results
      // file names it when one was asked for)
      const ciclo = /^(\S+) += ciclo multigrid \(--multigrid\)\r$/m.exec(arquivos['placa.res'].toString('latin1'));
      if (fragmento.includes('ciclo=classico')) assert.equal(ciclo?.[1], 'classico');
      const nativa = rodarNativo(arquivos['placatermo.ent'], ciclo ? [`--multigrid=${ciclo[1]}`] : []);
      assert.equal(nativa.status, 0, nativa.stderr);
      for (const [nome, bytes] of Object.entries(arquivos)) {
        const d = diferenca(bytes, nativa.arquivos[nome], senoidal);
        assert.equal(d, null, `${nome}: ${d}`);
      }
    });
  }

  test('um valor errado: a mensagem ao lado dele, e nada roda', async () => {
    await abrir('rodar=1');
    assert.equal(await estadoFinal(), 'concluida');
    const antes = await pagina.evaluate(() => [...document.querySelectorAll('a[data-arquivo]')].map((a) => a.href));
    await pagina.$eval('[name=nx]', (e) => { e.value = ''; });
    await pagina.type('[name=nx]', '2');
    await pagina.click('#resolver');
    assert.equal(await estadoFinal(), 'recusada');
    assert.match(await pagina.$eval('#erro-nx', (e) => e.textContent),
      /erro no valor "número de volumes na direção X da malha 1": 2 está fora do intervalo permitido/);
    assert.equal(await pagina.$eval('#erro-ny', (e) => e.textContent), '');
    assert.deepEqual(await pagina.evaluate(() => [...document.querySelectorAll('a[data-arquivo]')].map((a) => a.href)), antes);
  });

  test('"Parar" para uma execução longa, e a página volta a rodar', async () => {
    await abrir('malhas=1&nx=1026&ny=1026&tolerancia=1e-30&iteracoes_externas_max=1000000');
    await pagina.click('#resolver');
    await pagina.waitForFunction(() => document.body.dataset.estado === 'rodando', espera);
    await new Promise((pronto) => setTimeout(pronto, 1500));
    assert.equal(await pagina.evaluate(() => document.body.dataset.estado), 'rodando');
    await pagina.click('#parar');
    await pagina.waitForFunction(() => document.body.dataset.estado === 'parada', { timeout: 1000 });
    await pagina.$eval('[name=nx]', (e) => { e.value = '10'; });
    await pagina.$eval('[name=ny]', (e) => { e.value = '10'; });
    await pagina.$eval('[name=iteracoes_externas_max]', (e) => { e.value = '50'; });
    await pagina.click('#resolver');
    assert.equal(await estadoFinal(), 'concluida');
    assert.ok(Number(await pagina.$eval('#iteracoes', (e) => e.textContent.trim())) > 0);
  });

  test('um link compartilhado refaz o formulário', async () => {
    await abrir('solver=3&relaxacao_sor=1.25&malhas=2&titulo=Caso+%C3%BAnico&ciclo=classico&quadros=1');
    const valores = () => pagina.evaluate(() => {
      const f = document.querySelector('form#entrada');
      return { solver: f.elements.solver.value, relaxacao_sor: f.elements.relaxacao_sor.value,
        malhas: f.elements.malhas.value, titulo: f.elements.titulo.value, nx: f.elements.nx.value,
        ciclo: f.elements.ciclo.value, quadros: f.elements.quadros.checked };
    });
    const esperados = { solver: '3', relaxacao_sor: '1.25', malhas: '2', titulo: 'Caso único', nx: '6',
      ciclo: 'classico', quadros: true };
    assert.deepEqual(await valores(), esperados);
    assert.equal(await pagina.evaluate(() => document.body.dataset.estado), 'pronta');
    // the address a run leaves opens the same case
    await pagina.click('#resolver');
    assert.equal(await estadoFinal(), 'concluida');
    const fragmento = await pagina.evaluate(() => location.hash);
    await abrir();
    await abrir(fragmento.slice(1));
    assert.deepEqual(await valores(), esperados);
  });

  test('o console não mostrou erro nenhum', () => {
    assert.deepEqual(erros, []);
  });
});
