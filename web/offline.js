// The site kept whole for playing offline, one version at a time, by its service worker (sw.js).
// Not from file://, where there are no service workers.
export const offline = {kept: false};  // the site is kept (its service worker is active)

export function keepForOffline(describe) {
  if (!('serviceWorker' in navigator) || !/^https?:$/.test(location.protocol)) return;
  navigator.serviceWorker.register('sw.js').catch((problem) => console.warn(`not kept for offline play: ${describe(problem)}`));
  navigator.serviceWorker.ready.then(() => { offline.kept = true; });
}
