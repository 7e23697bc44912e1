// platform/web/serve.js: serves a folder on 127.0.0.1 for playing the game in a browser.
// node serve.js FOLDER PORT [SLOW_MS]
// SLOW_MS holds the game's data package back that long, as a slow network would: the page must
// not depend on it arriving before the player's storage has been read.
'use strict';
const http = require('http');
const fs = require('fs');
const path = require('path');

const root = path.resolve(process.argv[2] || '.');
const port = Number(process.argv[3] || 8000);
const slow = Number(process.argv[4] || 0);
const types = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript; charset=utf-8', '.wasm': 'application/wasm',
  '.data': 'application/octet-stream', '.wav': 'audio/wav', '.txt': 'text/plain; charset=windows-1252',
  '.webmanifest': 'application/manifest+json', '.svg': 'image/svg+xml',
};

const server = http.createServer((request, response) => {
  let name = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
  if (name.endsWith('/')) name += 'index.html';
  const file = path.join(root, path.normalize(name));
  if (!file.startsWith(root + path.sep)) { response.writeHead(403).end(); return; }
  fs.readFile(file, (error, bytes) => {
    if (error) { response.writeHead(404, { 'Content-Type': 'text/plain' }).end('Not found'); return; }
    response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream', 'Cache-Control': 'no-cache' });
    setTimeout(() => response.end(bytes), file.endsWith('.data') ? slow : 0);
  });
});
server.on('error', (error) => { console.error(`Cannot serve on port ${port}: ${error.message}`); process.exit(1); });
server.listen(port, '127.0.0.1', () => console.log(`Tumblewick is at http://127.0.0.1:${server.address().port}/`));
