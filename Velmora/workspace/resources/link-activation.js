// Runs in an isolated world of every frame. Reports each link the user really activated
// (a trusted click or middle click, which keyboard activation of a link also produces) with
// the secret the application gave this page, so the application can tell a clicked link from
// a script's jump to the same address.
(function () {
  'use strict';
  const token = '@VELMORA_ACTIVATION_TOKEN@';
  const report = console.log.bind(console);

  function activatedLink(event) {
    const path = typeof event.composedPath === 'function' ? event.composedPath() : [event.target];
    for (const node of path) {
      if ((node instanceof HTMLAnchorElement || node instanceof HTMLAreaElement) && node.href)
        return node.href;
      if (node instanceof SVGAElement && node.href && node.href.animVal)
        return new URL(node.href.animVal, node.baseURI).href;
    }
    return '';
  }

  function record(event) {
    if (!event.isTrusted)
      return;
    const href = activatedLink(event);
    if (href)
      report('velmora-link-activation ' + token + ' ' + href);
  }

  window.addEventListener('click', record, true);
  window.addEventListener('auxclick', record, true);
})();
