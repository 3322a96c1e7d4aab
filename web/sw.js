// Keeps one build of the site in one cache, named for the build, so that the
// page opens and programs a board without the network. The build writes in
// the name (a hash of the files) and the list (site_worker.cmake).
const BUILD = '@SITE_HASH@';
const FILES = '@SITE_FILES@'.split(',');
// Caches are shared by the whole origin; this prefix marks this folder's.
const PREFIX = `velkor ${registration.scope} `;
const CACHE = PREFIX + BUILD;

self.addEventListener('install', (event) => {
  // The whole build or none of it: addAll fails when any file does. Fetched
  // past the HTTP cache, which may still hold the previous build's files.
  const requests = FILES.map((file) => new Request(file, { cache: 'reload' }));
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(requests)).then(() => self.skipWaiting()));
});

// Tabs already open keep the build they loaded: the page registers this
// worker only once every file of its own has arrived.
self.addEventListener('activate', (event) => {
  const stale = (names) => names.filter((name) => name.startsWith(PREFIX) && name !== CACHE);
  event.waitUntil(caches.keys()
    .then((names) => Promise.all(stale(names).map((name) => caches.delete(name))))
    .then(() => self.clients.claim()));
});

// ?demo and any other query open the same files.
self.addEventListener('fetch', (event) => {
  if (event.request.method !== 'GET' || new URL(event.request.url).origin !== location.origin)
    return;
  event.respondWith(caches.open(CACHE)
    .then((cache) => cache.match(event.request, { ignoreSearch: true }))
    .then((hit) => hit || fetch(event.request)));
});
