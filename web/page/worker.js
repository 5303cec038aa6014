// The module in a Web Worker, so that a long run never blocks the page. One
// worker runs, another checks the values as they are typed (the same file);
// the page stops a run by terminating its worker and making a new one.
/* global Placatermo */
'use strict';

// A page isolated from other origins (its server sends the two headers that
// say so) may use threads: the module built with them then takes the large
// passes on two, with the same bits. Elsewhere, in the worker that only
// checks values, or where that module does not load, the one without.
function carregar(script) {
  return new Promise((pronto) => {
    importScripts(script);
    // (the thread's own worker loads the same script)
    pronto(Placatermo({ mainScriptUrlOrBlob: script }));
  });
}
const carregado = self.crossOriginIsolated && self.name !== 'conferidor'
  ? carregar('placatermo-fios.js').catch(() => carregar('placatermo.js'))
  : carregar('placatermo.js');

// A browser lets a page's WebAssembly memory grow reliably to 2 GiB, the
// phones included; what the module already holds when it is ready (its data,
// stack and first heap) is taken from that.
const LIMITE_MEMORIA = 2 * 1024 * 1024 * 1024;
// The history goes to the page at most every 100 ms (it draws at most ten
// times a second).
const INTERVALO_HISTORICO_MS = 100;

let modulo = null;
let memoriaInicial = 0;
const pendentes = [];

function chamar(nome, ...textos) {
  return JSON.parse(modulo.ccall(nome, 'string', textos.map(() => 'string'), textos));
}

// A copy of one of the last run's arrays or files (the module's memory may
// move on the next call).
function copia(nome) {
  const tamanho = modulo.ccall('placatermo_tamanho', 'number', ['string'], [nome]) >>> 0;
  const ponteiro = modulo.ccall('placatermo_dados', 'number', ['string'], [nome]) >>> 0;
  return modulo.HEAPU8.slice(ponteiro, ponteiro + tamanho).buffer;
}

function resolver(valores, opcoes) {
  let linhas = [];
  let ultimoEnvio = performance.now();
  const enviar = () => {
    if (linhas.length === 0) return;
    postMessage({ tipo: 'historico', linhas });
    linhas = [];
    ultimoEnvio = performance.now();
  };
  modulo.aoIterar = (iteracao, razao) => {
    linhas.push(iteracao, razao);
    if (performance.now() - ultimoEnvio >= INTERVALO_HISTORICO_MS) enviar();
  };
  const completas = Object.assign({}, opcoes, { memoria: LIMITE_MEMORIA - memoriaInicial });
  const resultado = chamar('placatermo_resolver', JSON.stringify(valores), JSON.stringify(completas));
  modulo.aoIterar = null;
  enviar();
  if (typeof resultado.erro === 'string') {
    postMessage({ tipo: 'resultado', resultado });
    return;
  }
  const matrizes = {};
  const nomes = ['t', 'analitica', 'x', 'y', 'historico'];
  resultado.quadros.forEach((_, k) => nomes.push('quadro_erro_' + k, 'quadro_residuo_' + k));
  for (const nome of nomes) matrizes[nome] = copia(nome);
  const arquivos = {};
  for (const nome of resultado.arquivos) arquivos[nome] = copia(nome);
  postMessage({ tipo: 'resultado', resultado, matrizes, arquivos },
    Object.values(matrizes).concat(Object.values(arquivos)));
}

function atender(mensagem) {
  try {
    if (mensagem.tipo === 'conferir') {
      postMessage({ tipo: 'conferido', id: mensagem.id, resultado: chamar('placatermo_conferir', JSON.stringify(mensagem.valores)) });
    } else if (mensagem.tipo === 'resolver') {
      resolver(mensagem.valores, mensagem.opcoes);
    }
  } catch (erro) {
    // a trap of the module (e.g. out of memory while it grows)
    postMessage({ tipo: mensagem.tipo === 'resolver' ? 'resultado' : 'conferido', id: mensagem.id,
      resultado: { erro: String(erro && erro.message || erro) } });
  }
}

onmessage = (evento) => {
  if (modulo) atender(evento.data);
  else pendentes.push(evento.data);
};

carregado.then((m) => {
  modulo = m;
  memoriaInicial = m.HEAPU8.length;
  postMessage({ tipo: 'pronto', padrao: chamar('placatermo_valores_padrao'), memoria: LIMITE_MEMORIA - memoriaInicial });
  while (pendentes.length) atender(pendentes.shift());
}, (erro) => {
  postMessage({ tipo: 'falha', mensagem: String(erro && erro.message || erro) });
});
