// The bridge as an embedded frame sees it: the same window.webkit.messageHandlers.<name>
// .postMessage(body) as the main frame's, whose promise is always refused. Only the main frame
// may use the application's messages; a frame of the page's own origin gets the refusal the
// main frame's bridge would give it, rather than a TypeError, and reaches nothing native.
// Runs in the page's own script world of every frame, and does nothing in the main frame.
(function () {
  'use strict';

  if (window === window.top)
    return;

  const refusal = '@VELMORA_REFUSAL@';
  const ErrorType = Error;
  const PromiseType = Promise;
  const freeze = Object.freeze;
  const create = Object.create;

  const handler = freeze({
    postMessage: function postMessage() {
      return PromiseType.reject(new ErrorType(refusal));
    },
  });
  const messageHandlers = new Proxy(create(null), {
    get: (target, name) => (typeof name === 'string' ? handler : undefined),
  });
  Object.defineProperty(window, 'webkit', {
    value: freeze({messageHandlers}),
    writable: true,
    configurable: true,
    enumerable: false,
  });
})();
