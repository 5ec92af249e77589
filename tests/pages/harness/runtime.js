// Runs in every page before the page's own script (as IE's host would have
// set window.external up before it). Stands in for the host control and
// records what the page lacks on IE 7. Written in plain ES5: it runs in
// Chromium only.
(function () {
  var harness = { depth: 0, events: [], violations: [] };
  var defineProperty = Object.defineProperty;
  var getDescriptor = Object.getOwnPropertyDescriptor;
  defineProperty(window, '__orvane', { value: harness, enumerable: false });

  // The host control: OnHTMLEvent(document, name, element, param). An empty
  // name is refused by the control (E_NOTIMPL), which IE reports as a script
  // error.
  var external = {
    OnHTMLEvent: function (doc, name, element, param) {
      harness.events.push({
        document: doc === document,
        name: name,
        element: element,
        param: param,
        paramType: typeof param,
        argc: arguments.length
      });
      if (name === undefined || name === null || String(name) === '') {
        throw new Error('window.external.OnHTMLEvent: no event name (E_NOTIMPL)');
      }
    }
  };
  defineProperty(window, 'external', { value: external, configurable: true, writable: false });

  function report(label) {
    if (!harness.depth) harness.violations.push(label);
  }
  function trapMethod(owner, ownerName, name) {
    var d = owner && getDescriptor(owner, name);
    if (!d || typeof d.value !== 'function') return;
    var original = d.value;
    defineProperty(owner, name, {
      configurable: true, enumerable: d.enumerable, writable: true,
      value: function () {
        report(ownerName + '.' + name);
        return original.apply(this, arguments);
      }
    });
  }
  function trapAccessor(owner, ownerName, name) {
    var d = owner && getDescriptor(owner, name);
    if (!d || !d.get) return;
    defineProperty(owner, name, {
      configurable: true, enumerable: d.enumerable,
      get: function () { report(ownerName + '.' + name); return d.get.call(this); },
      set: d.set && function (v) { report(ownerName + '.' + name); d.set.call(this, v); }
    });
  }
  function trapAll(owner, ownerName, names, trap) {
    for (var i = 0; i < names.length; i++) trap(owner, ownerName, names[i]);
  }

  trapAll(Array.prototype, 'Array.prototype', ['forEach', 'indexOf', 'lastIndexOf', 'map', 'filter',
    'reduce', 'reduceRight', 'some', 'every', 'includes', 'find', 'findIndex', 'fill'], trapMethod);
  trapAll(Array, 'Array', ['isArray', 'from', 'of'], trapMethod);
  trapAll(Object, 'Object', ['keys', 'create', 'defineProperty', 'defineProperties', 'getPrototypeOf',
    'freeze', 'getOwnPropertyNames', 'assign'], trapMethod);
  trapAll(String.prototype, 'String.prototype', ['trim', 'trimLeft', 'trimRight', 'trimStart', 'trimEnd',
    'startsWith', 'endsWith', 'includes', 'repeat', 'padStart', 'padEnd'], trapMethod);
  trapAll(Function.prototype, 'Function.prototype', ['bind'], trapMethod);
  trapAll(Date, 'Date', ['now'], trapMethod);
  trapAll(Date.prototype, 'Date.prototype', ['toISOString', 'toJSON'], trapMethod);
  trapAll(JSON, 'JSON', ['parse', 'stringify'], trapMethod);
  trapAll(console, 'console', ['log', 'info', 'warn', 'error', 'debug', 'trace', 'dir'], trapMethod);
  trapAll(EventTarget.prototype, 'EventTarget.prototype', ['addEventListener', 'removeEventListener',
    'dispatchEvent'], trapMethod);
  trapAll(Event.prototype, 'Event.prototype', ['preventDefault', 'stopPropagation'], trapMethod);
  trapAll(Document.prototype, 'document', ['querySelector', 'querySelectorAll', 'getElementsByClassName'], trapMethod);
  trapAll(Element.prototype, 'Element.prototype', ['querySelector', 'querySelectorAll',
    'getElementsByClassName'], trapMethod);
  trapAll(window, 'window', ['getComputedStyle'], trapMethod);
  trapAll(Node.prototype, 'Node.prototype', ['textContent'], trapAccessor);
  trapAll(Element.prototype, 'Element.prototype', ['classList', 'firstElementChild', 'lastElementChild',
    'nextElementSibling', 'previousElementSibling', 'childElementCount'], trapAccessor);
  trapAll(HTMLElement.prototype, 'HTMLElement.prototype', ['dataset'], trapAccessor);
  trapAll(Document.prototype, 'document', ['head'], trapAccessor);
  trapAll(window, 'window', ['localStorage', 'sessionStorage'], trapAccessor);
})();
