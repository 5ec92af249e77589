'use strict';
// Registry names that must reach a page as text and nothing else.
const HOSTILE = [
  "it's", 'say "hi"', 'C:\\dir\\', '\\"', "\\'", '<b>bold</b>', '</script><script>window.external.OnHTMLEvent(document,"x","","")</script>',
  '&quot;', '&#39;', '&lt;i&gt;', "');window.external.OnHTMLEvent(document,'x','','');//", 'a\rb\nc', 'a\u2028b\u2029c',
  '%s%n%d', '(null)', 'x'.repeat(16000),
];
module.exports = { HOSTILE };
