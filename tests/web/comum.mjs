// What the page's tests share: where the module and the native program are,
// running the native program on an input file, and comparing a file of the
// module with the program's (time lines aside).
//
// PLACATERMO_NATIVO names the native program (tests/web/run.sh passes the
// build folder's); PLACATERMO_SITE the folder of the page's files.
import { spawnSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

export const raiz = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
export const site = resolve(process.env.PLACATERMO_SITE ?? join(raiz, 'build-web/site'));
export const nativo = resolve(process.env.PLACATERMO_NATIVO ?? join(raiz, 'build/placatermo'));

// Why a test cannot run here (false when it can): the tests skip then, as
// the native suite does without gnuplot.
export function faltaModulo() {
  if (!existsSync(join(site, 'placatermo.js'))) return `sem o módulo em ${site} (cmake --preset web)`;
  if (!existsSync(nativo)) return `sem o programa nativo ${nativo}`;
  return false;
}

// The module under node (or the one with threads, placatermo-fios), its
// bytes given so that it fetches nothing.
export async function carregarModulo(nome = 'placatermo') {
  const fabrica = createRequire(import.meta.url)(join(site, `${nome}.js`));
  return fabrica({ wasmBinary: readFileSync(join(site, `${nome}.wasm`)) });
}

// The native program in a new folder with this input file; its files by
// name, its exit status and stderr.
export function rodarNativo(entrada, opcoes = []) {
  const pasta = mkdtempSync(join(tmpdir(), 'placatermo-web-'));
  try {
    writeFileSync(join(pasta, 'placatermo.ent'), entrada);
    const r = spawnSync(nativo, ['--batch', '--json', '--vtk', ...opcoes], {
      cwd: pasta, env: { PATH: '/usr/bin:/bin' }, encoding: 'utf8', timeout: 120_000,
    });
    const arquivos = {};
    for (const nome of readdirSync(pasta)) arquivos[nome] = readFileSync(join(pasta, nome));
    return { status: r.status, stderr: r.stderr, arquivos };
  } finally {
    rmSync(pasta, { recursive: true, force: true });
  }
}

// The run's clock in a file: the date and hour (results and summary files),
// the processing time line, the record's "tempo_s".
function semTempo(texto) {
  return texto
    .split('\r\n')
    .filter((linha) => !linha.includes('= tempo de processamento (s)'))
    .map((linha) =>
      linha
        .replace(/Dia = \(\d+\/\d+\/\d+\s*\)\s*/, 'Dia = … ')
        .replace(/ \(\d+\/\d+\/\d+\s*\)$/, ' (…)')
        .replace(/Hora = [\d:]+\s*$/, 'Hora = …')
        .replace(/("tempo_s"\s*:\s*)[^,}\s]+/, '$1…'))
    .join('\r\n');
}

// Numbers as the files print them (Fortran-like E and D exponents too).
const numero = /[-+]?(?:\d+\.?\d*|\.\d+)(?:[EeDd][-+]?\d+)?|[-+]?(?:NaN|Infinity|inf|nan)/g;

// Whether two printings of a value that went through sin/sinh/cosh/tanh
// (of two different mathematical libraries) agree: equal texts; or, for reals
// (a point or an exponent), values at most 64 units of 2^-52 apart on the
// plate's scale (max(1, |a|, |b|): temperatures are of order one, and an
// error T - T analytical inherits their absolute differences); or printings
// with the same digits and exponent one unit apart in their last digit. With
// `relativa`, also values whose relative difference is at most that much.
// Integers must be equal.
function mesmoValor(a, b, relativa = 0) {
  if (a === b) return true;
  if (!/[.EeDd]/.test(a) || !/[.EeDd]/.test(b)) return false;
  const x = Number(a.replace(/[Dd]/, 'E')), y = Number(b.replace(/[Dd]/, 'E'));
  if (!Number.isFinite(x) || !Number.isFinite(y)) return false;
  const d = Math.abs(x - y), maior = Math.max(Math.abs(x), Math.abs(y));
  if (d <= 64 * Number.EPSILON * Math.max(1, maior) || d <= relativa * maior) return true;
  const partes = (t) => /^([-+]?)(\d*)\.?(\d*)(?:[EeDd]([-+]?\d+))?$/.exec(t);
  const pa = partes(a), pb = partes(b);
  if (!pa || !pb || pa[3].length !== pb[3].length || Number(pa[4] ?? 0) !== Number(pb[4] ?? 0)) return false;
  const unidades = (p) => BigInt(p[1] + (p[2] + p[3] || '0'));
  const u = unidades(pa) - unidades(pb);
  return u === 1n || u === -1n;
}

// A VTK file as text lines, its binary arrays (big-endian) printed with all
// their digits, one value a line.
function vtkComoTexto(bytes) {
  const linhas = [];
  let pos = 0, pontos = 0;
  const linha = () => {
    const fim = bytes.indexOf(10, pos);
    const texto = bytes.toString('latin1', pos, fim < 0 ? bytes.length : fim);
    pos = fim < 0 ? bytes.length : fim + 1;
    return texto;
  };
  const valores = (n, tamanho, ler) => {
    for (let k = 0; k < n; ++k) linhas.push(String(ler.call(bytes, pos + k * tamanho)));
    pos += n * tamanho;
    if (bytes[pos] === 10) ++pos;
  };
  while (pos < bytes.length) {
    const texto = linha();
    linhas.push(texto);
    let m;
    if ((m = /^[XYZ]_COORDINATES (\d+) double$/.exec(texto))) valores(Number(m[1]), 8, bytes.readDoubleBE);
    else if ((m = /^POINT_DATA (\d+)$/.exec(texto))) pontos = Number(m[1]);
    else if ((m = /^SCALARS \S+ (double|int) 1$/.exec(texto))) {
      linhas.push(linha());
      if (m[1] === 'double') valores(pontos, 8, bytes.readDoubleBE);
      else valores(pontos, 4, bytes.readInt32BE);
    }
  }
  return linhas.join('\r\n');
}

// The first difference between a file of the module and the native one, or
// null. With quase (the sinusoidal plate) numbers may differ as mesmoValor
// allows, the record's convergence factor by a relative 1e-8 (a fit of the
// logarithms of the last ratios of small residual norms, which magnifies the
// residuals' differences); the texts between them may not.
export function diferenca(modulo, nativa, quase = false) {
  const texto = (bytes) => {
    const b = Buffer.from(bytes);
    return semTempo(b.subarray(0, 26).toString('latin1') === '# vtk DataFile Version 3.0' ? vtkComoTexto(b) : b.toString('latin1'));
  };
  const a = texto(modulo), b = texto(nativa);
  if (a === b) return null;
  const la = a.split(/\r?\n/), lb = b.split(/\r?\n/);
  if (la.length !== lb.length) return `${la.length} linhas no módulo, ${lb.length} no programa`;
  for (let i = 0; i < la.length; ++i) {
    if (la[i] === lb[i]) continue;
    const onde = `linha ${i + 1}:\n  módulo:   ${la[i]}\n  programa: ${lb[i]}`;
    if (!quase) return onde;
    const na = la[i].match(numero) ?? [], nb = lb[i].match(numero) ?? [];
    if (la[i].replace(numero, '#') !== lb[i].replace(numero, '#') || na.length !== nb.length) return onde;
    for (let k = 0; k < na.length; ++k)
      if (!mesmoValor(na[k], nb[k], la[i].includes('"fator_convergencia"') ? 1e-8 : 0)) return `${onde}\n  (${na[k]} e ${nb[k]})`;
  }
  return null;
}

// A file, an array or a text the module keeps after a run, as bytes.
export function dadosDoModulo(M, nome) {
  const ponteiro = M.ccall('placatermo_dados', 'number', ['string'], [nome]);
  const tamanho = M.ccall('placatermo_tamanho', 'number', ['string'], [nome]);
  return Buffer.from(M.HEAPU8.subarray(ponteiro, ponteiro + tamanho));
}

// A reader's message without its place: "erro no valor \"x\": ..." and
// "erro [de leitura] no arquivo ..., linha n, parâmetro \"x\": ..." both
// give "\"x\": ...".
export function semLugar(mensagem) {
  const m = /(?:erro no valor |parâmetros? )("[^"]*".*)$/s.exec(mensagem.trim());
  return m ? m[1] : mensagem.trim();
}
