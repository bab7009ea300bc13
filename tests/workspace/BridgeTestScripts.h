#pragma once

// Pages and scripts of the bridge test. They stand in a header of their own: moc skips a
// Q_OBJECT class in a file whose raw string literals hold quotes.

#include <QByteArray>
#include <QString>

namespace velmora::test::bridgepages {

// The page every test starts from: post(key, name, body) posts a message and records how its
// promise settles under key.
inline const QByteArray pageScript = R"(
<script>
window.outcomes = {};
window.frameOutcomes = {};
window.permissionReturns = 0;
addEventListener('velmora-voice-memo-permission-return', () => { window.permissionReturns += 1; });
addEventListener('message', (e) => { if (e.data && e.data.mode) window.frameOutcomes[e.data.mode] = e.data; });
window.record = (key, promise) => {
  window.outcomes[key] = {state: 'pending'};
  promise.then(
    (v) => { window.outcomes[key] = {state: 'resolved', hasValue: v !== undefined, value: v === undefined ? null : v}; },
    (e) => { window.outcomes[key] = {state: 'rejected', isError: e instanceof Error, message: String(e && e.message)}; });
};
window.post = (key, name, body) => {
  try {
    window.record(key, window.webkit.messageHandlers[name].postMessage(body));
  } catch (e) {
    window.outcomes[key] = {state: 'threw', message: String(e)};
  }
};
</script>)";

// A frame of another origin: it cannot reach its parent's bridge and has none of its own.
inline const QByteArray foreignFrame = R"(<script>
let outcome;
try { top.webkit.messageHandlers.getSaveLocation.postMessage({}); outcome = 'posted'; }
catch (e) { outcome = e.name; }
const report = (own) => parent.postMessage({mode: 'foreign', state: outcome, ownBridge: own}, '*');
if (window.webkit)
  window.webkit.messageHandlers.getSaveLocation.postMessage({}).then(() => report('resolved'), (e) => report(e.message));
else
  report('undefined');
</script>)";

// Bodies of every kind a page can pass, some of them hostile to serialising; evaluates to their
// number and keeps them in window.floodBodies.
inline const QString floodBodiesScript = QStringLiteral(R"(
            (() => {
              const cyclic = {}; cyclic.self = cyclic;
              let deep = []; for (let i = 0; i < 20000; ++i) deep = [deep];
              const throwing = {get path() { throw new Error('getter'); }};
              const trap = new Proxy({}, {get() { throw new Error('trap'); }, ownKeys() { throw new Error('keys'); }});
              window.floodBodies = [undefined, null, true, 0, -1.5, NaN, 'text', '/tmp/x.txt', 'x'.repeat(3 * 1024 * 1024),
                [], [1, [2, [3]]], {}, {path: 42}, {path: '/nonexistent/a.txt'}, {path: 'relative.md'}, {path: '/a.pdf'},
                cyclic, deep, throwing, trap, () => 1, Symbol('s'), 10n, new Date(0), new Map([[1, 2]]), document.body,
                {toJSON() { throw new Error('json'); }}, {path: '/x.txt', padding: 'y'.repeat(1100000)}];
              return window.floodBodies.length;
            })())");

// An honest part of the page keeps the bridge's function and the promise's then before the
// rest of the page runs.
inline const QByteArray honestPartScript = R"(<script>
              window.honest = window.webkit.messageHandlers.getSaveLocation.postMessage;
              window.honestThen = Promise.prototype.then;
            </script>)";

// A part of the page that replaces and wraps what it can reach, listens where the bridge's
// halves might talk, forges replies and asks to be handed the bridge's element; everything it
// sees goes into window.seen.
inline const QString tamperingScript = QStringLiteral(R"(
          (() => {
            const seen = window.seen = [];
            const note = (x) => { try { seen.push(typeof x === 'string' ? x : String(JSON.stringify(x))); } catch (e) {} };
            const parse = JSON.parse, stringify = JSON.stringify;
            JSON.parse = function (...a) { note(a[0]); return parse.apply(this, a); };
            JSON.stringify = function (...a) { const r = stringify.apply(this, a); note(r); return r; };
            const dispatch = EventTarget.prototype.dispatchEvent;
            EventTarget.prototype.dispatchEvent = function (e) { note(e.type); note(e.detail); return dispatch.call(this, e); };
            const listen = EventTarget.prototype.addEventListener;
            EventTarget.prototype.addEventListener = function (t, f, o) { note('listen ' + t); return listen.call(this, t, f, o); };
            const detail = Object.getOwnPropertyDescriptor(CustomEvent.prototype, 'detail');
            Object.defineProperty(CustomEvent.prototype, 'detail', {get() { const v = detail.get.call(this); note(v); return v; }});
            const data = Object.getOwnPropertyDescriptor(MessageEvent.prototype, 'data');
            Object.defineProperty(MessageEvent.prototype, 'data', {get() { const v = data.get.call(this); note(v); return v; }});
            for (const type of ['velmora-bridge-reply', 'velmora-bridge-request', 'velmora-bridge-connect',
                                'velmora-bridge-connected', 'velmora-bridge-ask']) {
              for (const target of [window, document])
                listen.call(target, type, (e) => { note('saw ' + type); if (e.relatedTarget) window.stolenLink = e.relatedTarget; }, true);
            }
            // Ask to be handed the bridge's element, and forge replies where a listener might be.
            dispatch.call(window, new Event('velmora-bridge-ask'));
            const forged = stringify({id: 1, reply: {value: 'forged'}});
            for (const target of [window, document, document.documentElement])
              dispatch.call(target, new CustomEvent('velmora-bridge-reply', {detail: forged}));
            const then = Promise.prototype.then;
            Promise.prototype.then = function (a, b) { return then.call(this, (v) => { note(v); return a ? a(v) : v; }, b); };
            try { window.__velmoraRunAsync = () => note('replaced'); } catch (e) {}
            try { Object.defineProperty(window, '__velmoraRunAsync', {value: () => note('redefined')}); } catch (e) {}
            try { delete window.__velmoraRunAsync; } catch (e) {}
            window.webkit = {messageHandlers: new Proxy({}, {get: (t, n) => ({postMessage: () => { note('intercepted ' + n); return Promise.resolve('forged'); }})})};
          })())");

// The honest part's call, through what it kept.
inline const QString honestCallScript = QStringLiteral(R"(
            honestThen.call(honest({}), (v) => { window.honestResult = v; }, (e) => { window.honestResult = 'failed ' + e.message; });
            undefined)");

} // namespace velmora::test::bridgepages
