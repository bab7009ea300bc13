// The bridge's own half, in a script world of the main frame that page scripts cannot reach,
// where the web channel to the application lives. It takes the page half's requests from the
// element the two halves share, holds them until the channel is ready (the page's first
// scripts run before it is), sends them to the application's one published object and hands
// each reply back under its request's id. Ids carry a random prefix of this document, so a
// reply that arrives after the page has moved on to another document is dropped, not given to
// an unrelated call of the new one.
(function () {
  'use strict';

  const words = new Uint32Array(4);
  crypto.getRandomValues(words);
  const documentPrefix = Array.from(words, (w) => w.toString(16).padStart(8, '0')).join('') + ':';

  let link = null;
  let endpoint = null;
  const waiting = [];

  function answer(id, reply) {
    if (!link || typeof id !== 'string' || !id.startsWith(documentPrefix))
      return;
    const detail = JSON.stringify({id: Number(id.slice(documentPrefix.length)), reply: reply || {}});
    link.dispatchEvent(new CustomEvent('velmora-bridge-reply', {detail}));
  }

  function send(request) {
    if (request.kind === 'settle') {
      endpoint.settle(String(request.token), request.ok === true, String(request.value || ''));
      return;
    }
    const id = documentPrefix + String(request.id);
    endpoint.post(id, String(request.name), String(request.body || ''), request.fromAnotherFrame === true,
      (reply) => {
        if (!reply || reply.pending !== true)
          answer(id, reply);
      });
  }

  function receive(event) {
    let request;
    try {
      request = JSON.parse(event.detail);
    } catch (e) {
      return;
    }
    if (!request || typeof request !== 'object')
      return;
    if (endpoint)
      send(request);
    else
      waiting.push(request);
  }

  function connect(event) {
    if (link || !(event.relatedTarget instanceof Element))
      return;
    link = event.relatedTarget;
    window.removeEventListener('velmora-bridge-connect', connect, true);
    link.addEventListener('velmora-bridge-request', receive);
    link.dispatchEvent(new Event('velmora-bridge-connected'));
  }
  window.addEventListener('velmora-bridge-connect', connect, true);
  // When the page half was created first, it is waiting to be asked.
  window.dispatchEvent(new Event('velmora-bridge-ask'));

  new QWebChannel(qt.webChannelTransport, (channel) => {
    endpoint = channel.objects.velmoraBridge;
    endpoint.replied.connect(answer);
    for (const request of waiting.splice(0))
      send(request);
  });
})();
