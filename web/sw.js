// The page's service worker: the site kept as one set of files of one version, so that the game
// plays without the network once it has been opened. The build writes each file's SHA-256 and
// the version (a digest of that list) in here (web/stamp_service_worker.cmake).
'use strict';

const FILES = {
@BOOTCAMP_SITE_FILES@};
const VERSION = '@BOOTCAMP_SITE_VERSION@';
// Sites under other paths of the same origin keep sets of their own.
const PREFIX = `bootcamp ${self.registration.scope} `;
const CACHE = PREFIX + VERSION;

function hex(buffer) {
  return [...new Uint8Array(buffer)].map((byte) => byte.toString(16).padStart(2, '0')).join('');
}

// Every file, fetched past the browser's cache and checked against its digest: a site half
// updated on the server (an old bootcamp.js with a new bootcamp.wasm fails to link) is not kept,
// and the browser tries again on a later visit.
async function keepTheSet() {
  const fetched = await Promise.all(Object.entries(FILES).map(async ([name, digest]) => {
    const response = await fetch(new Request(name, {cache: 'reload'}));
    if (!response.ok) throw new Error(`${name}: ${response.status} ${response.statusText}`);
    if (hex(await crypto.subtle.digest('SHA-256', await response.clone().arrayBuffer())) !== digest) {
      throw new Error(`${name} is not of version ${VERSION}`);
    }
    return [name, response];
  }));
  const cache = await caches.open(CACHE);
  await Promise.all(fetched.map(([name, response]) => cache.put(name, response)));
}

// Installed, the new version waits until no page uses the old one: a page keeps the set it
// started with, and the next visit takes the new set whole.
self.addEventListener('install', (event) => event.waitUntil(keepTheSet()));

// The sets this one replaces go a while after it takes over, not at once: a page whose load began
// under the old worker still takes the rest of its files from the old set, never a mix. A sweep
// that does not happen (the worker stopped first) is made by the next set's.
function dropOldSets() {
  return caches.keys().then((names) => Promise.all(
    names.filter((name) => name.startsWith(PREFIX) && name !== CACHE).map((name) => caches.delete(name))));
}
const OLD_SETS_KEPT_MS = 20000;
self.addEventListener('activate', () => setTimeout(dropOldSets, OLD_SETS_KEPT_MS));

// The site's files from this version's set; anything else from the network.
self.addEventListener('fetch', (event) => {
  if (event.request.method !== 'GET') return;
  const url = new URL(event.request.url);
  const scope = new URL(self.registration.scope);
  if (url.origin !== scope.origin || !url.pathname.startsWith(scope.pathname)) return;
  const name = url.pathname.slice(scope.pathname.length) || 'index.html';
  if (!Object.hasOwn(FILES, name)) return;
  event.respondWith(caches.open(CACHE)
    .then((cache) => cache.match(name))
    .then((kept) => kept || fetch(event.request)));
});
