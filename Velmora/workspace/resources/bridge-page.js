// The page's side of the bridge: window.webkit.messageHandlers.<name>.postMessage(body)
// returns a promise that settles with the application's reply. Runs in the page's own script
// world of the main frame, when the document is created, before any script of the page.
//
// Requests go to the bridge's script in its own world (which alone reaches the application)
// through an element that no one else holds: the two scripts exchange it by a synchronous
// event while the document is being created, when no page script can be listening. Every
// built-in used later is taken now, so page code that replaces globals or prototypes
// afterwards does not see requests or replies pass. Replies are matched to their call by an
// id kept in this closure; each settles only its own promise.
(function () {
  'use strict';

  const runAsyncName = '@VELMORA_RUN_ASYNC@';
  // revealTextFile's body travels as JSON text; larger bodies are not read.
  const bodyLimit = @VELMORA_BODY_LIMIT@;

  const uncurry = Function.prototype.bind.bind(Function.prototype.call);
  const getterOf = (object, name) => {
    for (let o = object; o; o = Object.getPrototypeOf(o)) {
      const descriptor = Object.getOwnPropertyDescriptor(o, name);
      if (descriptor)
        return descriptor.get ? uncurry(descriptor.get) : null;
    }
    return null;
  };

  const dispatch = uncurry(EventTarget.prototype.dispatchEvent);
  const listen = uncurry(EventTarget.prototype.addEventListener);
  const unlisten = uncurry(EventTarget.prototype.removeEventListener);
  const detailOf = getterOf(CustomEvent.prototype, 'detail');
  const hasOwn = uncurry(Object.prototype.hasOwnProperty);
  const startsWith = uncurry(String.prototype.startsWith);
  const promiseThen = uncurry(Promise.prototype.then);
  const stringify = JSON.stringify;
  const parse = JSON.parse;
  const create = Object.create;
  const defineProperty = Object.defineProperty;
  const freeze = Object.freeze;
  const PromiseType = Promise;
  const ErrorType = Error;
  const CustomEventType = CustomEvent;
  const FocusEventType = FocusEvent;
  const ProxyType = Proxy;
  const StringType = String;
  const captureStackTrace = Error.captureStackTrace;
  const frameCount = getterOf(window, 'length');
  const documentOf = getterOf(window, 'document');
  const eventOf = getterOf(window, 'event');
  const currentScriptOf = getterOf(Document.prototype, 'currentScript');
  const urlOf = getterOf(Document.prototype, 'URL');
  const ownDocument = document;

  const link = document.createElement('velmora-bridge');
  const pending = create(null);
  let nextId = 1;

  function send(request) {
    // The event's options are read member by member; without a prototype none is inherited
    // from what page code may have put on Object.prototype.
    const init = create(null);
    init.detail = stringify(request);
    dispatch(link, new CustomEventType('velmora-bridge-request', init));
  }

  listen(link, 'velmora-bridge-reply', (event) => {
    let message;
    try {
      message = parse(detailOf(event));
    } catch (e) {
      return;
    }
    const id = message.id;
    const entry = pending[id];
    if (!entry)
      return;
    delete pending[id];
    const reply = message.reply || {};
    if (hasOwn(reply, 'error'))
      entry.reject(new ErrorType(StringType(reply.error)));
    else
      entry.resolve(hasOwn(reply, 'value') ? reply.value : undefined);
  });

  // The element is handed over once. Both halves run while the document is created, the
  // other half either before this one (then it is listening) or after it (then it asks);
  // once it has the element, nobody is answered again, so page code cannot ask for it later.
  let connected = false;
  function connect() {
    if (!connected)
      dispatch(window, new FocusEventType('velmora-bridge-connect', {relatedTarget: link}));
  }
  listen(link, 'velmora-bridge-connected', () => {
    connected = true;
    unlisten(window, 'velmora-bridge-ask', connect, true);
  });
  listen(window, 'velmora-bridge-ask', connect, true);
  connect();

  function bodyText(body) {
    try {
      const text = stringify([body]);
      return text.length <= bodyLimit ? text : '';
    } catch (e) {
      return '';
    }
  }

  // Same-origin frames inside the page can call this frame's functions (parent.webkit...).
  // Such a call is told apart by what is running in those frames at that moment: a script
  // of theirs, an event of theirs, or a caller on the stack that belongs to them.
  function childFrames() {
    const found = [];
    const walk = (w) => {
      const count = frameCount(w);
      for (let i = 0; i < count; ++i) {
        const child = w[i];
        let doc;
        try {
          doc = documentOf(child);
        } catch (e) {
          continue; // another origin: it cannot reach this frame at all
        }
        found[found.length] = {window: child, document: doc};
        walk(child);
      }
    };
    walk(window);
    return found;
  }

  function callerInFrames(frames, callee) {
    const ownUrl = urlOf(ownDocument);
    const holder = {};
    const savedPrepare = ErrorType.prepareStackTrace;
    const savedLimit = ErrorType.stackTraceLimit;
    let sites;
    try {
      ErrorType.prepareStackTrace = (error, callSites) => callSites;
      ErrorType.stackTraceLimit = 64;
      captureStackTrace(holder, callee);
      sites = holder.stack;
    } catch (e) {
      sites = null;
    } finally {
      ErrorType.prepareStackTrace = savedPrepare;
      ErrorType.stackTraceLimit = savedLimit;
    }
    if (!sites || typeof sites.length !== 'number')
      return false;
    for (let s = 0; s < sites.length; ++s) {
      const site = sites[s];
      const self = site.getThis();
      const file = StringType(site.getFileName() || '');
      if (file !== ownUrl && startsWith(file, 'about:'))
        return true;
      for (let f = 0; f < frames.length; ++f) {
        if (self === frames[f].window)
          return true;
        const frameUrl = urlOf(frames[f].document);
        if (file === frameUrl && file !== ownUrl)
          return true;
      }
    }
    return false;
  }

  function calledFromAnotherFrame(callee) {
    try {
      const frames = childFrames();
      if (frames.length === 0)
        return false;
      for (let f = 0; f < frames.length; ++f) {
        if (currentScriptOf(frames[f].document) !== null || eventOf(frames[f].window) !== undefined)
          return true;
      }
      return callerInFrames(frames, callee);
    } catch (e) {
      // What cannot be told is not let through.
      return true;
    }
  }

  function post(name, body, fromAnotherFrame) {
    return new PromiseType((resolve, reject) => {
      const id = nextId++;
      pending[id] = {resolve, reject};
      send({
        kind: 'post',
        id,
        name,
        fromAnotherFrame,
        body: name === 'revealTextFile' ? bodyText(body) : '',
      });
    });
  }

  const handlers = create(null);
  function handlerFor(name) {
    let handler = handlers[name];
    if (!handler) {
      const postMessage = function postMessage(body) {
        return post(name, body, calledFromAnotherFrame(postMessage));
      };
      handler = freeze({postMessage});
      handlers[name] = handler;
    }
    return handler;
  }
  // Every name has a handler; names the application does not know are refused by it.
  const messageHandlers = new ProxyType(create(null), {
    get: (target, name) => (typeof name === 'string' ? handlerFor(name) : undefined),
  });
  defineProperty(window, 'webkit', {
    value: freeze({messageHandlers}),
    writable: true,
    configurable: true,
    enumerable: false,
  });

  // The application runs an asynchronous function in the page and learns the value it settles
  // to. It cannot be replaced by the page; a call with an unknown token is ignored.
  function valueText(value) {
    try {
      const text = stringify([value]);
      return text.length <= bodyLimit ? text : '';
    } catch (e) {
      return '';
    }
  }
  function runAsync(token, run) {
    const settle = (ok, value) => send({kind: 'settle', token: StringType(token), ok, value});
    let promise;
    try {
      promise = run();
      promiseThen(promise, (value) => settle(true, valueText(value)), () => settle(false, ''));
    } catch (e) {
      settle(false, '');
    }
  }
  defineProperty(window, runAsyncName, {value: runAsync, writable: false, configurable: false, enumerable: false});
})();
