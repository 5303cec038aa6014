// The page: the form, the runs in a worker, the charts and maps of the
// results. Plain script, no build step; uPlot is the only library.
/* global uPlot */
'use strict';

(() => {
  const NOMES = ['nome_experimento', 'arquivo_discretizacao', 'arquivo_iterativos', 'lx', 'ly', 'malhas', 'nx', 'ny',
    'tolerancia', 'iteracoes_externas_max', 'solver', 'tolerancia_msi', 'iteracoes_internas_max', 'relaxacao_sor',
    'cc', 'titulo'];
  const SOLVERS = { 1: 'Jacobi', 2: 'Gauss-Seidel', 3: 'SOR', 4: 'ADI', 5: 'MSI' };
  const NOMES_DOS_CICLOS = { especificado: 'ciclo especificado', classico: 'ciclo clássico', rapido: 'ciclo rápido' };
  // the cycle named, or the specified one for anything else (a link may carry any text)
  const cicloDe = (nome) => (nome === 'classico' || nome === 'rapido' ? nome : 'especificado');
  const MAXIMO_EXECUCOES = 4;
  const CORES = ['#0b57a4', '#c2410c', '#15803d', '#7e22ce', '#b91c1c'];
  const CORES_NIVEIS = ['#6b21a8', '#0e7490', '#15803d', '#a16207', '#c2410c', '#b91c1c', '#be185d', '#1d4ed8', '#374151', '#4d7c0f'];
  const ATRASO_CONFERIR_MS = 250;

  const $ = (id) => document.getElementById(id);
  const form = $('entrada');
  const botaoResolver = $('resolver');
  const botaoParar = $('parar');

  let padrao = null;
  let execucoes = [];
  let mostrada = null;
  let proximoId = 1;
  let fila = [];
  let atual = null;            // the run in the worker: {caso, iteracoes, razoes, resolver}
  let interrompida = null;     // the history of the run last stopped, drawn until the next
  let urlsArquivos = [];

  // ---- numbers in Portuguese ----------------------------------------------
  const formato = new Intl.NumberFormat('pt-BR', { maximumSignificantDigits: 7 });
  function numero(valor) {
    if (valor === null || valor === undefined || !Number.isFinite(valor)) return 'não é um número';
    const absoluto = Math.abs(valor);
    if (absoluto !== 0 && (absoluto < 1e-3 || absoluto >= 1e7)) return valor.toExponential(5).replace('.', ',');
    return formato.format(valor);
  }
  // a number for a scale's label: four digits at most
  function curto(valor) {
    const absoluto = Math.abs(valor);
    if (absoluto !== 0 && (absoluto < 1e-2 || absoluto >= 1e5)) return valor.toExponential(2).replace('.', ',');
    return new Intl.NumberFormat('pt-BR', { maximumSignificantDigits: 4 }).format(valor);
  }
  const decimal = (valor) => String(valor).replace('.', ',');

  function definirValor(id, valor, texto) {
    const elemento = $(id);
    elemento.textContent = texto !== undefined ? texto : numero(valor);
    elemento.dataset.valor = valor === null || valor === undefined ? 'NaN' : String(valor);
  }

  // ---- state ---------------------------------------------------------------
  function estado(nome, texto) {
    document.body.dataset.estado = nome;
    if (texto !== undefined) $('situacao').textContent = texto;
    const rodando = nome === 'rodando';
    // the keyboard's place moves to the button that can be pressed now,
    // instead of being lost with the one that is disabled
    const foco = document.activeElement;
    botaoParar.disabled = !rodando;
    botaoResolver.disabled = rodando || nome === 'carregando';
    if (foco === botaoResolver && rodando) botaoParar.focus();
    else if (foco === botaoParar && !rodando) botaoResolver.focus();
  }

  // ---- workers ---------------------------------------------------------------
  // The checker answers while a run goes on in the other worker.
  let conferidor = null;
  let conferidorPronto = null;
  let conferencias = new Map();
  let idConferencia = 0;

  function novoConferidor() {
    conferidor = new Worker('worker.js', { name: 'conferidor' });
    conferidorPronto = new Promise((pronto, falhou) => {
      conferidor.onmessage = (evento) => {
        const m = evento.data;
        if (m.tipo === 'pronto') pronto(m);
        else if (m.tipo === 'falha') falhou(new Error(m.mensagem));
        else if (m.tipo === 'conferido') {
          const espera = conferencias.get(m.id);
          conferencias.delete(m.id);
          if (espera) espera(m.resultado);
        }
      };
      conferidor.onerror = (evento) => falhou(new Error(evento.message || 'o módulo não carregou'));
    });
  }

  function conferir(valores) {
    const id = ++idConferencia;
    return new Promise((pronto) => {
      conferencias.set(id, pronto);
      conferidor.postMessage({ tipo: 'conferir', id, valores });
    });
  }

  let executor = null;
  let executorPronto = null;
  function novoExecutor() {
    executor = new Worker('worker.js');
    executorPronto = new Promise((pronto, falhou) => {
      executor.onmessage = (evento) => {
        const m = evento.data;
        if (m.tipo === 'pronto') pronto(m);
        else if (m.tipo === 'falha') falhou(new Error(m.mensagem));
        else if (m.tipo === 'historico' && atual) receberHistorico(m.linhas);
        else if (m.tipo === 'resultado' && atual) atual.resolver(m);
      };
      executor.onerror = (evento) => {
        if (atual) atual.resolver({ resultado: { erro: evento.message || 'o módulo falhou' } });
        else falhou(new Error(evento.message || 'o módulo não carregou'));
      };
    });
  }

  // ---- the form ---------------------------------------------------------------
  function valoresDoFormulario() {
    const valores = {};
    for (const nome of NOMES) valores[nome] = form.elements[nome].value;
    return valores;
  }
  function opcoesDoFormulario() {
    return { ciclo: form.elements.ciclo.value, quadros: form.elements.quadros.checked };
  }
  function preencher(valores, opcoes) {
    for (const nome of NOMES) {
      const controle = form.elements[nome];
      const texto = valores[nome] !== undefined ? valores[nome] : padrao[nome];
      if (controle.tagName === 'SELECT') for (const opcao of [...controle.options]) if (opcao.dataset.extra) opcao.remove();
      if (controle.tagName === 'SELECT' && ![...controle.options].some((o) => o.value === texto)) {
        // a value the select does not offer (a link may carry one): kept, so that the check names it
        const opcao = new Option(texto + ' (fora da lista)', texto);
        opcao.dataset.extra = '1';
        controle.add(opcao);
      }
      controle.value = texto;
    }
    form.elements.ciclo.value = cicloDe(opcoes.ciclo);
    form.elements.quadros.checked = !!opcoes.quadros;
    agendarConferencia(0);
  }

  function mostrarConferencia(resultado) {
    const erros = typeof resultado.erro === 'string' ? [{ nome: '', mensagem: resultado.erro }] : resultado.erros;
    const gerais = [];
    for (const nome of NOMES) {
      $('erro-' + nome).textContent = '';
      form.elements[nome].removeAttribute('aria-invalid');
    }
    for (const erro of erros) {
      if (erro.nome && $('erro-' + erro.nome)) {
        const lugar = $('erro-' + erro.nome);
        lugar.textContent = lugar.textContent ? lugar.textContent + '\n' + erro.mensagem : erro.mensagem;
        form.elements[erro.nome].setAttribute('aria-invalid', 'true');
      } else {
        gerais.push(erro.mensagem);
      }
    }
    $('erro-memoria').textContent = gerais.join('\n');
    const lista = $('avisos-entrada');
    lista.replaceChildren(...(resultado.avisos || []).map((aviso) => {
      const item = document.createElement('li');
      item.textContent = aviso;
      return item;
    }));
    $('avisos-entrada-caixa').hidden = lista.children.length === 0;
    mostrarMalhaFina();
    return erros;
  }

  // the finest grid the values make (grid k has twice the real volumes of grid k - 1)
  function mostrarMalhaFina() {
    const malhas = Number(form.elements.malhas.value);
    const nx = Number(form.elements.nx.value);
    const ny = Number(form.elements.ny.value);
    const texto = $('malha-fina');
    if (!(Number.isInteger(malhas) && Number.isInteger(nx) && Number.isInteger(ny) && malhas >= 1 && malhas <= 30 && nx > 2 && ny > 2)) {
      texto.textContent = '';
      return;
    }
    const fator = 2 ** (malhas - 1);
    texto.textContent = `A malha mais fina: ${(nx - 2) * fator + 2} × ${(ny - 2) * fator + 2} volumes (com os fictícios).`;
  }

  let relogioConferencia = 0;
  let ultimaConferencia = 0;
  function agendarConferencia(atraso = ATRASO_CONFERIR_MS) {
    clearTimeout(relogioConferencia);
    relogioConferencia = setTimeout(async () => {
      const numero = ++ultimaConferencia;
      await conferidorPronto;
      const resultado = await conferir(valoresDoFormulario());
      if (numero === ultimaConferencia) mostrarConferencia(resultado);
    }, atraso);
  }

  // ---- the address --------------------------------------------------------------
  function fragmentoDe(valores, opcoes) {
    const parametros = new URLSearchParams();
    for (const nome of NOMES) if (valores[nome] !== padrao[nome]) parametros.set(nome, valores[nome]);
    if (cicloDe(opcoes.ciclo) !== 'especificado') parametros.set('ciclo', opcoes.ciclo);
    if (opcoes.quadros) parametros.set('quadros', '1');
    return parametros.toString();
  }

  function casoDoFragmento() {
    const parametros = new URLSearchParams(location.hash.replace(/^#/, ''));
    const valores = Object.assign({}, padrao);
    for (const nome of NOMES) if (parametros.has(nome)) valores[nome] = parametros.get(nome);
    return {
      valores,
      opcoes: { ciclo: cicloDe(parametros.get('ciclo')), quadros: parametros.get('quadros') === '1' },
      rodar: parametros.get('rodar') === '1',
    };
  }

  function aplicarFragmento() {
    const caso = casoDoFragmento();
    preencher(caso.valores, caso.opcoes);
    if (caso.rodar) iniciar([{ valores: caso.valores, opcoes: caso.opcoes }]);
  }

  // ---- runs ---------------------------------------------------------------------
  function iniciar(casos) {
    if (atual) parar(false);
    fila = casos.slice();
    proximo();
  }

  async function proximo() {
    const caso = fila.shift();
    if (!caso) return;
    preencher(caso.valores, caso.opcoes);
    clearTimeout(relogioConferencia);
    ++ultimaConferencia;
    estado('rodando', 'Conferindo os valores…');
    const marca = {};
    interrompida = null;
    atual = { caso, iteracoes: [], razoes: [], marca, resolver: null };
    await conferidorPronto;
    const conferencia = await conferir(caso.valores);
    if (!atual || atual.marca !== marca) return;
    const erros = mostrarConferencia(conferencia);
    if (erros.length > 0) {
      atual = null;
      fila = [];
      estado('recusada', 'Nada rodou: ' + (erros.length === 1 ? 'um valor está errado' : 'há valores errados') + ' (a mensagem está ao lado de cada um).');
      const primeiro = erros.find((erro) => erro.nome && form.elements[erro.nome]);
      if (primeiro) form.elements[primeiro.nome].focus();
      return;
    }
    const fragmento = fragmentoDe(caso.valores, caso.opcoes);
    history.replaceState(null, '', fragmento ? '#' + fragmento : location.pathname + location.search);
    estado('rodando', 'Resolvendo' + (fila.length ? ` (mais ${fila.length} na fila)` : '') + '…');
    iniciarGraficoAoVivo();
    const agora = new Date();
    const opcoes = {
      // the specified cycle is the program's own without --multigrid: its files say no cycle line
      ciclo: Number(caso.valores.malhas) > 1 && cicloDe(caso.opcoes.ciclo) !== 'especificado' ? caso.opcoes.ciclo : null,
      quadros: caso.opcoes.quadros,
      agora: [agora.getFullYear(), agora.getMonth() + 1, agora.getDate(), agora.getHours(), agora.getMinutes(), agora.getSeconds()],
    };
    const resposta = await new Promise((pronto) => {
      atual.resolver = pronto;
      executor.postMessage({ tipo: 'resolver', valores: caso.valores, opcoes });
    });
    if (!atual || atual.marca !== marca) return;
    const { iteracoes, razoes } = atual;
    atual = null;
    const resultado = resposta.resultado;
    if (typeof resultado.erro === 'string') {
      fila = [];
      // a module that trapped (memory that could not grow) is not used again
      executor.terminate();
      novoExecutor();
      // the program's refusal of a grid too large for the memory goes beside the grid's values
      if (/de memória/.test(resultado.erro)) $('erro-memoria').textContent = resultado.erro;
      estado('erro', resultado.erro);
      desenharHistorico();
      return;
    }
    const execucao = {
      id: proximoId++, caso, resultado, iteracoes, razoes,
      matrizes: lerMatrizes(resposta.matrizes, resultado), arquivos: resposta.arquivos,
    };
    guardar(execucao);
    mostrar(execucao);
    const aviso = resultado.convergiu ? '' : ' Não convergiu: veja os avisos.';
    estado('concluida', `Concluída: ${resultado.iteracoes} ${resultado.iteracoes === 1 ? 'iteração' : 'iterações'} em ${numero(resultado.tempo_s)} s.${aviso}`);
    if (fila.length) proximo();
  }

  function lerMatrizes(brutas, resultado) {
    const matrizes = {};
    for (const nome of ['t', 'analitica', 'x', 'y', 'historico']) matrizes[nome] = new Float64Array(brutas[nome]);
    matrizes.quadros = resultado.quadros.map((_, k) => ({
      erro: new Float32Array(brutas['quadro_erro_' + k]),
      residuo: new Float32Array(brutas['quadro_residuo_' + k]),
    }));
    return matrizes;
  }

  // "Parar": the worker ends at once; the next run gets a new one.
  function parar(dizer = true) {
    if (!atual) return;
    executor.terminate();
    interrompida = dizer ? { iteracoes: atual.iteracoes, razoes: atual.razoes } : null;
    atual = null;
    fila = [];
    novoExecutor();
    if (dizer) estado('parada', 'Parada. O que ela tinha feito foi descartado.');
    desenharHistorico();
  }

  function receberHistorico(linhas) {
    for (let k = 0; k < linhas.length; k += 2) {
      atual.iteracoes.push(linhas[k]);
      atual.razoes.push(linhas[k + 1]);
    }
    pedirDesenho();
  }

  // ---- kept runs -----------------------------------------------------------------
  function guardar(execucao) {
    execucoes.push(execucao);
    while (execucoes.length > MAXIMO_EXECUCOES) execucoes.shift();
    const usadas = new Set(execucoes.map((e) => e.cor).filter(Boolean));
    execucao.cor = CORES.find((cor) => !usadas.has(cor));
    desenharCartoes();
    desenharHistorico();
  }

  function remover(execucao) {
    execucoes = execucoes.filter((e) => e !== execucao);
    if (mostrada === execucao) {
      if (execucoes.length) mostrar(execucoes[execucoes.length - 1]);
      else {
        mostrada = null;
        limparArquivos();
        $('resultado').hidden = true;
      }
    }
    desenharCartoes();
    desenharHistorico();
  }

  // What sets a run apart: the solver and the grids always, the rest when the
  // kept runs differ in it.
  const ASPECTOS = [
    (e) => SOLVERS[e.caso.valores.solver] || 'solver ' + e.caso.valores.solver,
    (e) => (e.caso.valores.solver === '3' ? 'ω = ' + decimal(e.caso.valores.relaxacao_sor) : ''),
    (e) => (e.resultado.malhas === 1 ? '1 malha' : `${e.resultado.malhas} malhas`),
    (e) => (e.resultado.malhas > 1 ? NOMES_DOS_CICLOS[cicloDe(e.resultado.ciclo)] : ''),
    (e) => `${e.resultado.nx} × ${e.resultado.ny}`,
    (e) => (e.caso.valores.cc === '1' ? 'placa linear' : 'placa senoidal'),
    (e) => `${e.caso.valores.iteracoes_internas_max} internas`,
    (e) => 'tolerância ' + decimal(e.caso.valores.tolerancia),
    (e) => `lx = ${decimal(e.caso.valores.lx)}, ly = ${decimal(e.caso.valores.ly)}`,
    (e) => (e.caso.valores.solver === '5' ? 'tolerância do MSI ' + decimal(e.caso.valores.tolerancia_msi) : ''),
  ];
  const SEMPRE = new Set([0, 1, 2]);
  function rotulo(execucao) {
    const partes = [];
    ASPECTOS.forEach((aspecto, k) => {
      const texto = aspecto(execucao);
      if (!texto) return;
      const diferem = new Set(execucoes.map(aspecto)).size > 1;
      if (SEMPRE.has(k) || diferem || (k === 3 && execucoes.some((e) => e.resultado.malhas !== execucao.resultado.malhas))) partes.push(texto);
    });
    const iguais = execucoes.filter((e) => ASPECTOS.every((a) => a(e) === a(execucao)));
    if (iguais.length > 1) partes.push('execução ' + execucao.id);
    return partes.join(', ');
  }

  // everything that applies to one run, for the heading of its results
  function descricao(execucao) {
    const partes = ASPECTOS.slice(0, 6).map((aspecto) => aspecto(execucao)).filter(Boolean);
    partes[partes.length - 2] += ' volumes na malha mais fina';
    return partes.join(', ');
  }

  function desenharCartoes() {
    const caixa = $('execucoes');
    caixa.replaceChildren(...execucoes.map((execucao) => {
      const r = execucao.resultado;
      const cartao = document.createElement('article');
      cartao.className = 'cartao' + (execucao === mostrada ? ' mostrado' : '');
      cartao.style.setProperty('--cor', execucao.cor);
      const titulo = document.createElement('h3');
      titulo.textContent = rotulo(execucao);
      const lista = document.createElement('dl');
      const linhas = [
        ['iterações', String(r.iteracoes) + (r.convergiu ? '' : ' (não convergiu)')],
        ['malha fina', `${r.nx} × ${r.ny}`],
        ['maior erro', numero(r.erro.max)],
        ['T média', `${numero(r.tmedia.numerica)} (analítica ${numero(r.tmedia.analitica)})`],
        ['fator', numero(r.fator_convergencia)],
        ['tempo', numero(r.tempo_s) + ' s'],
      ];
      for (const [termo, valor] of linhas) {
        const dt = document.createElement('dt');
        dt.textContent = termo;
        const dd = document.createElement('dd');
        dd.textContent = valor;
        lista.append(dt, dd);
      }
      const botoes = document.createElement('div');
      botoes.className = 'botoes';
      const ver = document.createElement('button');
      ver.type = 'button';
      ver.textContent = 'Ver';
      ver.setAttribute('aria-label', 'Ver a execução ' + titulo.textContent);
      ver.addEventListener('click', () => mostrar(execucao));
      const tirar = document.createElement('button');
      tirar.type = 'button';
      tirar.textContent = 'Remover';
      tirar.setAttribute('aria-label', 'Remover a execução ' + titulo.textContent);
      tirar.addEventListener('click', () => remover(execucao));
      botoes.append(ver, tirar);
      cartao.append(titulo, lista, botoes);
      return cartao;
    }));
  }

  // ---- one run's results ---------------------------------------------------------
  function limparArquivos() {
    for (const url of urlsArquivos) URL.revokeObjectURL(url);
    urlsArquivos = [];
    $('arquivos').replaceChildren();
  }

  function mostrar(execucao) {
    mostrada = execucao;
    const r = execucao.resultado;
    $('resultado').hidden = false;
    $('resultado-rotulo').textContent = descricao(execucao);
    definirValor('iteracoes', r.iteracoes, String(r.iteracoes));
    definirValor('tmedia-numerica', r.tmedia.numerica);
    definirValor('tmedia-analitica', r.tmedia.analitica);
    definirValor('q-norte-numerica', r.q_norte.numerica);
    definirValor('q-norte-analitica', r.q_norte.analitica);
    definirValor('erro-max', r.erro.max);
    definirValor('fator', r.fator_convergencia, r.fator_convergencia === null ? '—' : undefined);
    definirValor('tempo', r.tempo_s, numero(r.tempo_s) + ' s');
    $('avisos').replaceChildren(...r.avisos.map((aviso) => {
      const item = document.createElement('li');
      item.textContent = aviso;
      return item;
    }));
    limparArquivos();
    $('arquivos').replaceChildren(...r.arquivos.map((nome) => {
      const url = URL.createObjectURL(new Blob([execucao.arquivos[nome]], { type: 'application/octet-stream' }));
      urlsArquivos.push(url);
      const link = document.createElement('a');
      link.href = url;
      link.download = nome;
      link.dataset.arquivo = nome;
      link.textContent = nome;
      const item = document.createElement('li');
      const tamanho = document.createElement('span');
      tamanho.textContent = ` ${execucao.arquivos[nome].byteLength.toLocaleString('pt-BR')} bytes`;
      item.append(link, tamanho);
      return item;
    }));
    desenharCartoes();
    desenharMapas(execucao);
    desenharPerfis(execucao);
    desenharNiveis(execucao);
    prepararQuadros(execucao);
  }

  // ---- colour maps ------------------------------------------------------------------
  const VIRIDIS = [[68, 1, 84], [72, 40, 120], [62, 74, 137], [49, 104, 142], [38, 130, 142], [31, 158, 137],
    [53, 183, 121], [109, 205, 89], [180, 222, 44], [253, 231, 37]];
  const DIVERGENTE = [[33, 102, 172], [103, 169, 207], [209, 229, 240], [247, 247, 247], [253, 219, 199], [239, 138, 98], [178, 24, 43]];
  function cor(paleta, f) {
    const s = Math.min(Math.max(f, 0), 1) * (paleta.length - 1);
    const k = Math.min(Math.floor(s), paleta.length - 2);
    const u = s - k;
    const a = paleta[k], b = paleta[k + 1];
    return [a[0] + (b[0] - a[0]) * u, a[1] + (b[1] - a[1]) * u, a[2] + (b[2] - a[2]) * u];
  }

  // Which cell of a row of positions each pixel falls in: cells span from
  // midpoint to midpoint, the first and last from the plate's sides.
  function celulas(posicoes, inicio, fim, pixels) {
    const n = posicoes.length;
    const indices = new Int32Array(pixels);
    let k = 0;
    for (let p = 0; p < pixels; ++p) {
      const x = inicio + ((p + 0.5) / pixels) * (fim - inicio);
      while (k < n - 1 && x > (posicoes[k] + posicoes[k + 1]) / 2) ++k;
      indices[p] = k;
    }
    return indices;
  }

  // A field (row by row from the south) on a canvas, with axes and a colour bar.
  function desenharMapa(canvas, valores, colunas, linhas, xs, ys, divergente, unidade) {
    // the plate keeps its proportions; the canvas is as tall as they need
    const largura = canvas.width, alturaMaxima = 440;
    const esquerda = 46, baixo = 38, topo = 10, direita = 92;
    const lx = xs[xs.length - 1] - xs[0], ly = ys[ys.length - 1] - ys[0];
    const escala = Math.min((largura - esquerda - direita) / lx, (alturaMaxima - topo - baixo) / ly);
    const w = Math.max(1, Math.round(lx * escala)), h = Math.max(1, Math.round(ly * escala));
    canvas.height = topo + h + baixo;
    const contexto = canvas.getContext('2d');
    contexto.clearRect(0, 0, largura, canvas.height);
    let [menor, maior] = faixa(valores);
    if (!Number.isFinite(menor)) { menor = 0; maior = 1; }
    if (divergente) { const m = Math.max(Math.abs(menor), Math.abs(maior)) || 1; menor = -m; maior = m; }
    if (maior === menor) { maior = menor + 1; }
    const paleta = divergente ? DIVERGENTE : VIRIDIS;
    const imagem = contexto.createImageData(w, h);
    const ci = celulas(xs, xs[0], xs[xs.length - 1], w);
    const cj = celulas(ys, ys[0], ys[ys.length - 1], h);
    for (let py = 0; py < h; ++py) {
      const j = cj[h - 1 - py];
      for (let px = 0; px < w; ++px) {
        const v = valores[j * colunas + ci[px]];
        // log10 of a residual that is exactly zero is −∞: the bottom of the scale
        const [r, g, b] = Number.isFinite(v) ? cor(paleta, (v - menor) / (maior - menor))
          : v === -Infinity ? cor(paleta, 0) : [128, 128, 128];
        const o = 4 * (py * w + px);
        imagem.data[o] = r; imagem.data[o + 1] = g; imagem.data[o + 2] = b; imagem.data[o + 3] = 255;
      }
    }
    contexto.putImageData(imagem, esquerda, topo);
    // axes
    contexto.fillStyle = '#1d1d1f';
    contexto.strokeStyle = '#1d1d1f';
    contexto.font = '12px system-ui, sans-serif';
    contexto.strokeRect(esquerda - 0.5, topo - 0.5, w + 1, h + 1);
    contexto.textAlign = 'center';
    contexto.textBaseline = 'top';
    for (const f of [0, 0.5, 1]) {
      const x = esquerda + f * w;
      contexto.fillText(curto(xs[0] + f * lx), x, topo + h + 4);
    }
    contexto.fillText('x (m)', esquerda + w / 2, topo + h + 20);
    contexto.textAlign = 'right';
    contexto.textBaseline = 'middle';
    for (const f of [0, 0.5, 1]) contexto.fillText(curto(ys[0] + f * ly), esquerda - 4, topo + h - f * h);
    contexto.save();
    contexto.translate(12, topo + h / 2);
    contexto.rotate(-Math.PI / 2);
    contexto.textAlign = 'center';
    contexto.fillText('y (m)', 0, 0);
    contexto.restore();
    // colour bar
    const bx = esquerda + w + 14, bw = 14;
    for (let py = 0; py < h; ++py) {
      const [r, g, b] = cor(paleta, 1 - py / Math.max(h - 1, 1));
      contexto.fillStyle = `rgb(${r | 0},${g | 0},${b | 0})`;
      contexto.fillRect(bx, topo + py, bw, 1);
    }
    contexto.strokeRect(bx - 0.5, topo - 0.5, bw + 1, h + 1);
    contexto.fillStyle = '#1d1d1f';
    contexto.textAlign = 'left';
    for (const f of [0, 0.5, 1]) contexto.fillText(curto(menor + f * (maior - menor)), bx + bw + 4, topo + h - f * h);
    if (unidade) { contexto.textBaseline = 'top'; contexto.fillText(unidade, bx, topo + h + 20); }
  }

  function desenharMapas(execucao) {
    const r = execucao.resultado, m = execucao.matrizes;
    desenharMapa($('mapa-campo'), m.t, r.nx, r.ny, m.x, m.y, false, 'T');
    const erro = new Float64Array(m.t.length);
    for (let k = 0; k < erro.length; ++k) erro[k] = m.t[k] - m.analitica[k];
    desenharMapa($('mapa-erro'), erro, r.nx, r.ny, m.x, m.y, true, 'T − Ta');
    const [menor, maior] = faixa(m.t);
    $('mapa-campo').setAttribute('aria-label', `Mapa de cores da temperatura, de ${numero(menor)} a ${numero(maior)}`);
    $('mapa-erro').setAttribute('aria-label', `Mapa de cores do erro; o maior em módulo, ${numero(r.erro.max)}`);
  }
  // the smallest and largest finite values
  function faixa(valores) {
    let menor = Infinity, maior = -Infinity;
    for (const v of valores) if (Number.isFinite(v)) { if (v < menor) menor = v; if (v > maior) maior = v; }
    return Number.isFinite(menor) ? [menor, maior] : [NaN, NaN];
  }

  // ---- charts ------------------------------------------------------------------------
  const graficos = {};
  function larguraDe(caixa) { return Math.max(260, Math.min(caixa.clientWidth || 600, 1200)); }
  function grafico(id, opcoes, dados) {
    if (graficos[id]) graficos[id].destroy();
    const caixa = $(id);
    caixa.replaceChildren();
    opcoes.width = larguraDe(caixa);
    opcoes.height = opcoes.height || 260;
    graficos[id] = new uPlot(opcoes, dados, caixa);
    return graficos[id];
  }
  addEventListener('resize', () => {
    for (const [id, g] of Object.entries(graficos)) g.setSize({ width: larguraDe($(id)), height: g.height });
  });
  // Axes in Portuguese (a decimal comma). A log chart draws log10 of its
  // values on a linear scale, marked with powers of ten (at most about eight,
  // whatever the range: a diverging run spans 150 decades, beyond the steps
  // uPlot's own log scale offers).
  const INCREMENTOS = [];
  for (let e = -30; e <= 300; ++e) for (const m of [1, 2, 5]) INCREMENTOS.push(m * 10 ** e);
  const valoresLineares = (u, ticks) => ticks.map((t) => (t == null ? '' : curto(t)));
  function expoentes(u, eixo, menor, maior) {
    const de = Math.ceil(menor), ate = Math.floor(maior);
    const passo = [1, 2, 3, 5, 10, 20, 25, 50, 100].find((p) => (ate - de) / p <= 8) || 100;
    const marcas = [];
    for (let e = Math.ceil(de / passo) * passo; e <= ate; e += passo) marcas.push(e);
    return marcas;
  }
  const escalaLog = { range: (u, menor, maior) => (menor == null || !Number.isFinite(menor)
    ? [-6, 0] : [Math.floor(menor), Math.max(Math.ceil(maior), Math.floor(menor) + 1)]) };
  const logOuNulo = (v) => (Number.isFinite(v) && v > 0 ? Math.log10(v) : null);
  const valorLog = (u, v) => (v == null ? '—' : (10 ** v).toExponential(3));
  const eixoX = (rotulo) => ({ label: rotulo, values: valoresLineares, incrs: INCREMENTOS });
  const eixoLogY = (rotulo) => ({ label: rotulo, size: 64, splits: expoentes, values: (u, ticks) => ticks.map((t) => (t == null ? '' : '1e' + t)) });
  // iterations and cycles are whole numbers: no marks between them
  const INTEIROS = INCREMENTOS.filter((passo) => passo >= 1);
  const eixoInteiro = (rotulo) => ({ label: rotulo, values: valoresLineares, incrs: INTEIROS });
  const eixoLog = (rotuloY) => [eixoInteiro('iteração externa'), eixoLogY(rotuloY)];

  // Series that share one x: the union of their x values, gaps as null.
  function alinhar(series) {
    const todos = new Set();
    for (const s of series) for (const x of s.x) todos.add(x);
    const xs = Float64Array.from(todos).sort();
    const posicao = new Map();
    xs.forEach((x, k) => posicao.set(x, k));
    const dados = [xs];
    for (const s of series) {
      const y = new Array(xs.length).fill(null);
      for (let k = 0; k < s.x.length; ++k) y[posicao.get(s.x[k])] = s.y[k];
      dados.push(y);
    }
    return dados;
  }

  let desenhoPedido = false;
  let ultimoDesenho = 0;
  function pedirDesenho() {
    if (desenhoPedido) return;
    desenhoPedido = true;
    const espera = Math.max(0, 100 - (performance.now() - ultimoDesenho));
    setTimeout(() => requestAnimationFrame(() => {
      desenhoPedido = false;
      ultimoDesenho = performance.now();
      atualizarHistorico();
    }), espera);
  }

  function seriesDoHistorico() {
    const series = execucoes.map((e) => ({ nome: rotulo(e), cor: e.cor, x: e.iteracoes, y: e.razoes.map(logOuNulo) }));
    if (interrompida && !atual) series.push({ nome: 'a que parou', cor: '#6b7280', x: interrompida.iteracoes, y: interrompida.razoes.map(logOuNulo), viva: true });
    if (atual) series.push({ nome: 'a que roda', cor: '#111', x: atual.iteracoes, y: atual.razoes.map(logOuNulo), viva: true });
    return series;
  }

  let formaHistorico = '';
  function desenharHistorico() {
    const series = seriesDoHistorico();
    formaHistorico = series.map((s) => s.nome).join('|');
    const opcoes = {
      scales: { x: { time: false }, y: escalaLog },
      axes: eixoLog('razão das normas'),
      series: [{ label: 'iteração' }].concat(series.map((s) => ({
        label: s.nome, stroke: s.cor, width: s.viva ? 2 : 1.5, spanGaps: true, dash: s.viva ? [6, 3] : undefined,
        value: valorLog,
      }))),
      legend: { live: false },
    };
    const dados = series.length && series.some((s) => s.x.length) ? alinhar(series) : [[1], ...series.map(() => [null])];
    grafico('grafico-historico', opcoes, dados);
  }
  function atualizarHistorico() {
    const series = seriesDoHistorico();
    if (series.map((s) => s.nome).join('|') !== formaHistorico || !graficos['grafico-historico']) return desenharHistorico();
    if (!series.some((s) => s.x.length)) return;
    graficos['grafico-historico'].setData(alinhar(series));
  }
  function iniciarGraficoAoVivo() { desenharHistorico(); }

  // The analytical solution on the plate's centre lines.
  function analiticaNoMeio(cc, lx, ly, eixo, s) {
    if (cc === 1) return eixo === 'x' ? ((s * 100.0) * ly) * 0.5 : ((s * 100.0) * lx) * 0.5;
    if (eixo === 'x') return (Math.sin((s * Math.PI) / lx) * Math.sinh((ly * Math.PI) / (lx * 2.0))) / Math.sinh((ly * Math.PI) / lx);
    return Math.sinh((s * Math.PI) / lx) / Math.sinh((ly * Math.PI) / lx);
  }

  function desenharPerfis(execucao) {
    const r = execucao.resultado, m = execucao.matrizes;
    const lx = Number(execucao.caso.valores.lx), ly = Number(execucao.caso.valores.ly);
    const cc = execucao.caso.valores.cc === '1' ? 1 : 2;
    for (const eixo of ['x', 'y']) {
      const ao = eixo === 'x' ? m.x : m.y;               // along the profile
      const atraves = eixo === 'x' ? m.y : m.x;          // across it
      const meio = (eixo === 'x' ? ly : lx) / 2;
      // the program's row (column): ny / 2 + 1 counted from 1, as Tx.dat and Ty.dat hold it
      const k = Math.floor(atraves.length / 2);
      const numericos = Array.from(ao, (_, i) => (eixo === 'x' ? m.t[k * r.nx + i] : m.t[i * r.nx + k]));
      const comprimento = eixo === 'x' ? lx : ly;
      const finos = Array.from({ length: 201 }, (_, i) => (i / 200) * comprimento);
      const dados = alinhar([
        { x: Array.from(ao), y: numericos },
        { x: finos, y: finos.map((s) => analiticaNoMeio(cc, lx, ly, eixo, s)) },
      ]);
      const outro = eixo === 'x' ? 'y' : 'x';
      grafico('perfil-' + eixo, {
        height: 240,
        scales: { x: { time: false } },
        axes: [eixoX(eixo + ' (m)'), { label: 'T', size: 64, values: valoresLineares, incrs: INCREMENTOS }],
        legend: { live: false },
        series: [{ label: eixo }, {
          label: `numérica (${outro} = ${numero(atraves[k])})`, stroke: '#c2410c', width: 0, paths: () => null,
          points: { show: true, size: 7, fill: '#c2410c' },
        }, { label: `analítica (${outro} = ${numero(meio)})`, stroke: '#0b57a4', width: 1.5, spanGaps: true, points: { show: false } }],
      }, dados);
      $('nota-perfil-' + eixo).textContent = Math.abs(atraves[k] - meio) > 1e-12 * comprimento
        ? `Pontos numéricos em ${outro} = ${numero(atraves[k])}, a linha de centros mais próxima de ${outro} = ${numero(meio)} (meio volume ao lado); a analítica, em ${outro} = ${numero(meio)}.`
        : `Pontos numéricos e analítica na linha ${outro} = ${numero(meio)}.`;
    }
  }

  function desenharNiveis(execucao) {
    const niveis = execucao.resultado.niveis;
    const mostrar = execucao.resultado.malhas > 1 && niveis.length > 0;
    $('niveis-caixa').hidden = !mostrar;
    if (!mostrar) return;
    const series = niveis.map((n) => ({ x: n.iteracoes, y: n.normas.map(logOuNulo) }));
    grafico('grafico-niveis', {
      scales: { x: { time: false }, y: escalaLog },
      axes: [eixoInteiro('ciclo'), eixoLogY('norma do resíduo')],
      legend: { live: false },
      series: [{ label: 'ciclo' }].concat(niveis.map((n, k) => ({
        label: `malha ${k + 1} (${n.nx} × ${n.ny})`, stroke: CORES_NIVEIS[k % CORES_NIVEIS.length],
        width: 1.5, spanGaps: true, value: valorLog,
      }))),
    }, alinhar(series));
  }

  // "Animar" steps through the frames ten times a second, as the program's animation
  let animacao = 0;
  function pararAnimacao() {
    clearInterval(animacao);
    animacao = 0;
    $('animar').textContent = 'Animar';
  }

  function prepararQuadros(execucao) {
    pararAnimacao();
    const quadros = execucao.matrizes.quadros;
    $('quadros-caixa').hidden = quadros.length === 0;
    if (quadros.length === 0) return;
    const controle = $('quadro');
    controle.max = String(quadros.length - 1);
    controle.value = '0';
    controle.oninput = () => { pararAnimacao(); desenharQuadro(execucao, Number(controle.value)); };
    $('animar').onclick = () => {
      if (animacao) return pararAnimacao();
      $('animar').textContent = 'Pausar';
      if (Number(controle.value) >= quadros.length - 1) controle.value = '0';
      animacao = setInterval(() => {
        const proximo = Number(controle.value) + 1;
        if (proximo >= quadros.length) return pararAnimacao();
        controle.value = String(proximo);
        desenharQuadro(execucao, proximo);
      }, 100);
    };
    desenharQuadro(execucao, 0);
  }

  function desenharQuadro(execucao, k) {
    const r = execucao.resultado;
    const colunas = r.quadro_colunas, linhas = r.quadro_linhas;
    const lx = Number(execucao.caso.valores.lx), ly = Number(execucao.caso.valores.ly);
    const xs = Array.from({ length: colunas }, (_, i) => ((i + 0.5) / colunas) * lx);
    const ys = Array.from({ length: linhas }, (_, j) => ((j + 0.5) / linhas) * ly);
    xs[0] = 0; xs[colunas - 1] = lx; ys[0] = 0; ys[linhas - 1] = ly;
    const quadro = execucao.matrizes.quadros[k];
    desenharMapa($('quadro-erro'), quadro.erro, colunas, linhas, xs, ys, true, 'T − Ta');
    desenharMapa($('quadro-residuo'), quadro.residuo, colunas, linhas, xs, ys, false, 'log₁₀|r|');
    const info = r.quadros[k];
    $('quadro-texto').textContent = `iteração ${info.iteracao}, razão ${info.razao === null ? '—' : numero(info.razao)}, maior erro ${numero(info.maior_erro)}`;
  }

  // ---- prepared cases --------------------------------------------------------------------
  const SENOIDAL = { cc: '2', titulo: 'Placa quadrada, c.c. senoidal' };
  const PREDEFINIDOS = [
    { nome: 'Placa linear', casos: [{}] },
    { nome: 'Placa senoidal', casos: [SENOIDAL] },
    { nome: 'Gauss-Seidel numa malha × multigrid', casos: [
      Object.assign({}, SENOIDAL, { malhas: '1', nx: '34', ny: '34', iteracoes_externas_max: '20000', iteracoes_internas_max: '1' }),
      Object.assign({}, SENOIDAL, { malhas: '4', nx: '6', ny: '6', iteracoes_externas_max: '20000', iteracoes_internas_max: '1', ciclo: 'classico' }),
    ] },
    { nome: 'Os dois ciclos', casos: [
      Object.assign({}, SENOIDAL, { malhas: '5', nx: '6', ny: '6', iteracoes_externas_max: '20000' }),
      Object.assign({}, SENOIDAL, { malhas: '5', nx: '6', ny: '6', iteracoes_externas_max: '20000', ciclo: 'classico' }),
    ] },
    { nome: 'SOR: ω = 1.4 e 1.5 (diverge)', casos: [
      { solver: '3', relaxacao_sor: '1.4' },
      { solver: '3', relaxacao_sor: '1.5' },
    ] },
    { nome: 'Quatro solvers numa malha', casos: ['1', '2', '3', '4'].map((solver) => ({ solver, malhas: '1', nx: '18', ny: '18', iteracoes_externas_max: '20000', relaxacao_sor: '1.2', iteracoes_internas_max: '1' })) },
    { nome: 'Quadros: a suavização do erro', casos: [
      Object.assign({}, SENOIDAL, { malhas: '1', nx: '34', ny: '34', iteracoes_externas_max: '60', iteracoes_internas_max: '1', quadros: '1' }),
    ] },
  ];

  function casoDe(mudancas) {
    const valores = Object.assign({}, padrao);
    for (const nome of NOMES) if (mudancas[nome] !== undefined) valores[nome] = mudancas[nome];
    return { valores, opcoes: { ciclo: mudancas.ciclo || 'especificado', quadros: mudancas.quadros === '1' } };
  }

  function montarPredefinidos() {
    const caixa = $('botoes-predefinidos');
    caixa.replaceChildren(...PREDEFINIDOS.map((p) => {
      const botao = document.createElement('button');
      botao.type = 'button';
      botao.textContent = p.nome;
      if (p.casos.length > 1) botao.title = `Roda ${p.casos.length} execuções, uma depois da outra`;
      botao.addEventListener('click', () => {
        const casos = p.casos.map(casoDe);
        if (casos.length === 1) {
          preencher(casos[0].valores, casos[0].opcoes);
          $('situacao').textContent = `Preenchido: ${p.nome}. Aperte Resolver.`;
        } else {
          iniciar(casos);
        }
      });
      return botao;
    }));
  }

  // ---- start ---------------------------------------------------------------------------
  form.addEventListener('input', () => agendarConferencia());
  form.addEventListener('change', () => agendarConferencia());
  form.addEventListener('submit', (evento) => {
    evento.preventDefault();
    if (document.body.dataset.estado === 'rodando' || document.body.dataset.estado === 'carregando') return;
    iniciar([{ valores: valoresDoFormulario(), opcoes: opcoesDoFormulario() }]);
  });
  botaoParar.addEventListener('click', () => parar());
  $('padrao').addEventListener('click', () => { if (padrao) preencher(padrao, { ciclo: 'especificado', quadros: false }); });
  addEventListener('hashchange', () => { if (padrao) aplicarFragmento(); });

  estado('carregando');
  novoConferidor();
  novoExecutor();
  Promise.all([conferidorPronto, executorPronto]).then(([pronto]) => {
    padrao = pronto.padrao;
    montarPredefinidos();
    estado('pronta', 'Pronta.');
    desenharHistorico();
    aplicarFragmento();
  }, (erro) => {
    estado('erro', 'O módulo não carregou: ' + erro.message);
  });
})();
