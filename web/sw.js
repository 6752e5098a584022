// The page's service worker: the site kept as one set of files of one version, so that the game
// plays without the network once it has been opened. The build writes each file's SHA-256 and
// the version (a digest of that list) in here (web/stamp_site.cmake); the site's scripts, styles
// and wasm are named by their content, so a page of one version asks for no file of another.
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

// A file's bytes from the network, checked against this version's digest, as a response of its
// own: not the one fetched, which may have come through a redirect (a host that sends
// /index.html to /), and a redirected response is refused for a page's navigation.
async function fetchChecked(name, init) {
  const response = await fetch(new Request(name, init));
  if (!response.ok) throw new Error(`${name}: ${response.status} ${response.statusText}`);
  const bytes = await response.arrayBuffer();
  if (hex(await crypto.subtle.digest('SHA-256', bytes)) !== FILES[name]) {
    throw new Error(`${name} is not of version ${VERSION}`);
  }
  const type = response.headers.get('Content-Type');
  return new Response(bytes, {status: 200, headers: type ? {'Content-Type': type} : {}});
}

// Every file, fetched past the browser's cache and checked: a site half updated on the server is
// not kept, and the browser tries again on a later visit.
async function keepTheSet() {
  const fetched = await Promise.all(Object.keys(FILES).map(async (name) =>
    [name, await fetchChecked(name, {cache: 'reload'})]));
  const cache = await caches.open(CACHE);
  await Promise.all(fetched.map(([name, response]) => cache.put(name, response)));
}

// Installed, the new version waits until no page uses the old one: a page keeps the set it
// started with, and the next visit takes the new set whole.
self.addEventListener('install', (event) => event.waitUntil(keepTheSet()));

// The sets this one replaces go a while after it takes over, not at once: a page whose load began
// under the old worker still takes the rest of its files from the old set. A sweep that does not
// happen (the worker stopped first) is made by the next set's.
function dropOldSets() {
  return caches.keys().then((names) => Promise.all(
    names.filter((name) => name.startsWith(PREFIX) && name !== CACHE).map((name) => caches.delete(name))));
}
const OLD_SETS_KEPT_MS = 20000;
self.addEventListener('activate', () => setTimeout(dropOldSets, OLD_SETS_KEPT_MS));

// The site's files from this version's set, or from the network only if they are this
// version's bytes; anything else from the network as it is. A page of another version (its set
// gone from the browser's storage) is still a whole page: it names its files by their content.
self.addEventListener('fetch', (event) => {
  if (event.request.method !== 'GET') return;
  const url = new URL(event.request.url);
  const scope = new URL(self.registration.scope);
  if (url.origin !== scope.origin || !url.pathname.startsWith(scope.pathname)) return;
  const name = url.pathname.slice(scope.pathname.length) || 'index.html';
  if (!Object.hasOwn(FILES, name)) return;
  event.respondWith(caches.open(CACHE)
    .then((cache) => cache.match(name))
    .then((kept) => kept || fetchChecked(name, {cache: 'no-store'}))
    .catch(() => (event.request.mode === 'navigate' ? fetch(event.request) : Response.error())));
});
