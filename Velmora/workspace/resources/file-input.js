// Runs in an isolated world of every frame, where page scripts cannot reach it. The engine asks
// the application for files without saying which frame's file input wants them, and only the
// page's main frame may have them: in an embedded frame a click that would open a file panel
// is cancelled here, and in the main frame each file input that a click opens is reported,
// signed with the secret the application gave this page.
(function () {
  'use strict';
  const token = '@VELMORA_ACTIVATION_TOKEN@';
  const report = console.log.bind(console);
  const mainFrame = window === window.top;

  // The input whose panel the click would open: the first input on the event's way in.
  function fileInputOf(event) {
    const path = typeof event.composedPath === 'function' ? event.composedPath() : [event.target];
    for (const node of path) {
      if (node instanceof HTMLInputElement)
        return node.type === 'file' ? node : null;
    }
    return null;
  }

  window.addEventListener('click', (event) => {
    if (!fileInputOf(event))
      return;
    if (!mainFrame) {
      event.preventDefault();
      return;
    }
    // Without a user's gesture the engine opens no panel.
    if (!event.isTrusted && !(navigator.userActivation && navigator.userActivation.isActive))
      return;
    // The panel opens once the event has gone through the page, unless the page cancelled it.
    setTimeout(() => {
      if (!event.defaultPrevented)
        report('velmora-file-input ' + token);
    }, 0);
  }, true);
})();
