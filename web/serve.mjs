// A small static server for the page's folder, on the loopback interface
// only, with node's standard library alone.
//   node web/serve.mjs [PASTA] [PORTA]     (PASTA build-web/site, PORTA 8000)
import { createServer } from 'node:http';
import { createReadStream } from 'node:fs';
import { stat } from 'node:fs/promises';
import path from 'node:path';

const pasta = path.resolve(process.argv[2] || 'build-web/site');
const porta = Number(process.argv[3] || process.env.PORTA || 8000);
if (!Number.isInteger(porta) || porta < 1 || porta > 65535) {
  console.error(`serve.mjs: porta inválida "${process.argv[3]}"`);
  process.exit(2);
}

const tipos = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
  '.svg': 'image/svg+xml',
  '.png': 'image/png',
  '.json': 'application/json',
  '.ico': 'image/x-icon',
  '.txt': 'text/plain; charset=utf-8',
};

function responder(resposta, codigo, texto) {
  resposta.writeHead(codigo, { 'Content-Type': 'text/plain; charset=utf-8' });
  resposta.end(texto + '\n');
}

const servidor = createServer(async (pedido, resposta) => {
  if (pedido.method !== 'GET' && pedido.method !== 'HEAD') return responder(resposta, 405, 'método não permitido');
  let caminho;
  try {
    caminho = decodeURIComponent(new URL(pedido.url, 'http://127.0.0.1').pathname);
  } catch {
    return responder(resposta, 400, 'endereço inválido');
  }
  // nothing outside the folder: a ".." part or a NUL is refused, and the
  // normalised path must still be inside
  if (caminho.includes('\0') || caminho.split(/[\\/]/).includes('..')) return responder(resposta, 403, 'proibido');
  if (caminho.endsWith('/')) caminho += 'index.html';
  const arquivo = path.resolve(pasta, '.' + path.posix.normalize(caminho));
  if (arquivo !== pasta && !arquivo.startsWith(pasta + path.sep)) return responder(resposta, 403, 'proibido');
  let info;
  try {
    info = await stat(arquivo);
  } catch {
    return responder(resposta, 404, 'não encontrado: ' + caminho);
  }
  if (!info.isFile()) return responder(resposta, 404, 'não encontrado: ' + caminho);
  resposta.writeHead(200, {
    'Content-Type': tipos[path.extname(arquivo).toLowerCase()] || 'application/octet-stream',
    'Content-Length': info.size,
    'Cache-Control': 'no-cache',
    'X-Content-Type-Options': 'nosniff',
    // isolated from other origins, so that the page may use threads
    'Cross-Origin-Opener-Policy': 'same-origin',
    'Cross-Origin-Embedder-Policy': 'require-corp',
  });
  if (pedido.method === 'HEAD') return resposta.end();
  createReadStream(arquivo).on('error', () => resposta.destroy()).pipe(resposta);
});

servidor.on('error', (erro) => {
  console.error(`serve.mjs: não foi possível servir em 127.0.0.1:${porta}: ${erro.message}`);
  process.exit(1);
});
servidor.listen(porta, '127.0.0.1', () => {
  console.log(`Página em http://127.0.0.1:${porta}/ (Ctrl-C para parar)`);
});
