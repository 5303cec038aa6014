// The page's speed against the native program's: three cases run in the
// page (headless Chromium, the module in its worker) and natively on one
// core (taskset -c 0), alternating, the median of three of each, and the
// ratio of the processing times ("tempo_s" of each run's record).
//   node bench/web.mjs [PROGRAMA_NATIVO] [PASTA_DA_PAGINA]
//   (build/placatermo and build-web/site; npm ci in web/ first)
import { spawn, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const raiz = resolve(dirname(fileURLToPath(import.meta.url)), '..');
const nativo = resolve(process.argv[2] ?? join(raiz, 'build/placatermo'));
const site = resolve(process.argv[3] ?? join(raiz, 'build-web/site'));
const chromium = '/usr/bin/chromium-headless-shell';

// Each case a fixed number of iterations (a tolerance never reached), each
// native run 0.3 to 3 s on one core of the machine measured.
const casos = [
  ['Gauss-Seidel, uma malha de 514² volumes reais',
    'malhas=1&nx=516&ny=516&tolerancia=1e-30&iteracoes_externas_max=600&iteracoes_internas_max=1', null],
  ['ciclo clássico, Gauss-Seidel, 9 malhas até 1026²',
    'malhas=9&nx=6&ny=6&tolerancia=1e-30&iteracoes_externas_max=10', 'classico'],
  ['MSI, uma malha de 514² volumes reais',
    'solver=5&malhas=1&nx=516&ny=516&tolerancia=1e-30&iteracoes_externas_max=100', null],
];

function rodarNativo(entrada, ciclo) {
  const pasta = mkdtempSync(join(tmpdir(), 'placatermo-bench-'));
  try {
    writeFileSync(join(pasta, 'placatermo.ent'), entrada);
    const r = spawnSync('taskset', ['-c', '0', nativo, '--batch', '--json', ...(ciclo ? [`--multigrid=${ciclo}`] : [])],
      { cwd: pasta, env: { PATH: '/usr/bin:/bin' }, encoding: 'utf8' });
    if (r.status !== 0) throw new Error(`o programa nativo falhou: ${r.stderr}`);
    return JSON.parse(readFileSync(join(pasta, 'placa.json'), 'latin1'));
  } finally {
    rmSync(pasta, { recursive: true, force: true });
  }
}

const mediana = (v) => [...v].sort((a, b) => a - b)[Math.floor(v.length / 2)];

const servidor = spawn(process.execPath, [join(raiz, 'web/serve.mjs'), site, String(20000 + (process.pid % 20000))],
  { stdio: ['ignore', 'pipe', 'inherit'] });
const endereco = await new Promise((pronto) => servidor.stdout.on('data', (d) => {
  const m = /http:\/\/[\d.:]+\//.exec(String(d));
  if (m) pronto(m[0]);
}));
const puppeteer = createRequire(join(raiz, 'web/package.json'))('puppeteer-core');
const navegador = await puppeteer.launch({ executablePath: chromium, headless: 'shell', args: ['--no-sandbox'] });
try {
  const pagina = await navegador.newPage();
  const rodarNaPagina = async (fragmento) => {
    await pagina.goto('about:blank');
    await pagina.goto(`${endereco}#${fragmento}&rodar=1`);
    await pagina.waitForFunction(() => ['concluida', 'erro', 'recusada'].includes(document.body.dataset.estado),
      { timeout: 600_000 });
    return pagina.evaluate(async () => {
      const a = document.querySelector('a[data-arquivo="placatermo.ent"]');
      const bytes = a ? new Uint8Array(await (await fetch(a.href)).arrayBuffer()) : new Uint8Array();
      return { estado: document.body.dataset.estado, tempo: Number(document.querySelector('#tempo').dataset.valor),
        iteracoes: document.querySelector('#iteracoes').textContent.trim(), entrada: [...bytes] };
    });
  };
  console.log('caso | iterações | nativo, 1 núcleo (s) | página (s) | razão');
  for (const [nome, fragmento, ciclo] of casos) {
    const pag = [], nat = [];
    let iteracoes;
    for (let vez = 0; vez < 3; ++vez) {
      const p = await rodarNaPagina(fragmento + (ciclo ? `&ciclo=${ciclo}` : ''));
      if (p.estado !== 'concluida') throw new Error(`${nome}: a página terminou em "${p.estado}"`);
      const n = rodarNativo(Buffer.from(p.entrada), ciclo);
      if (String(n.iteracoes) !== p.iteracoes) throw new Error(`${nome}: ${p.iteracoes} iterações na página, ${n.iteracoes} no programa`);
      pag.push(p.tempo);
      nat.push(n.tempo_s);
      iteracoes = n.iteracoes;
    }
    const [tn, tp] = [mediana(nat), mediana(pag)];
    console.log(`${nome} | ${iteracoes} | ${tn.toFixed(3)} | ${tp.toFixed(3)} | ${(tp / tn).toFixed(2)}`);
  }
} finally {
  await navegador.close();
  servidor.kill();
}
