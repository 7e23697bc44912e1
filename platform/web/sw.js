// platform/web/sw.js: the offline copy of the site. Every request goes to the network first, so a
// new version is picked up at the next visit; what the network gave is kept, and answers when
// the network does not.
'use strict';
const cacheName = 'tumblewick';
const files = ['./', 'index.html', 'page.js', 'tumblewick.js', 'tumblewick.wasm', 'tumblewick.data',
  'sounds/award.wav', 'manifest.webmanifest', 'icon.svg'];

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(cacheName).then((cache) => cache.addAll(files)).then(() => self.skipWaiting()));
});
self.addEventListener('activate', (event) => event.waitUntil(self.clients.claim()));
self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET' || new URL(request.url).origin !== self.location.origin) return;
  event.respondWith(fetch(request).then((response) => {
    if (response.ok) {
      const copy = response.clone();
      caches.open(cacheName).then((cache) => cache.put(request, copy));
    }
    return response;
  }).catch(() => caches.match(request, { ignoreSearch: true })
    .then((cached) => cached || caches.match('index.html')
      .then((page) => (request.mode === 'navigate' && page) || Response.error()))));
});
