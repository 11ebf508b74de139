#!/usr/bin/env node
'use strict';
// A reverse proxy for the storage tests: listens on 127.0.0.1 only, passes every request to the
// local storage server (azurite) and, by rules the test sets, fails, drops, holds or refuses
// some of them the way the Blob service does. Bounded: request bodies up to 16 MiB, at most 64
// connections, 32 rules.
// Usage: node fault-proxy.js TARGET_URL   (prints "listening PORT")
// Control (unsigned, under /_fault):
//   POST /_fault/rules  [rule...]  replaces the rules; a rule:
//     {method?, query? (parameters that must have these values), path? (a regular expression
//      on the decoded path), skip? (matches let through first), times? (matches it applies
//      to), action, ...}
//     action "fail": answers `status` with the service's error `code` (and `retryAfter`
//       seconds, `detail`), for `times` matches or, with `forMs`, for that long after the first;
//     action "drop": closes the connection without an answer;
//     action "forward": passes it on and adds `headers` to the answer;
//     action "hold": keeps the request until POST /_fault/release, then passes it on;
//     action "barrier": holds matches until `parties` of them are there, then passes all on
//       (or after `timeoutMs`, default 20000, whatever came);
//     action "clock": answers 403 AuthenticationFailed, as the service does when the request's
//       x-ms-date is more than 15 minutes off its clock (the proxy's clock runs `offsetMs` ahead).
//   GET /_fault/state  the rules with how often each applied, and the requests held now
//   POST /_fault/release  passes the held requests on
const http = require('http');

const MAX_BODY = 16 << 20;
const MAX_CONNECTIONS = 64;
const MAX_RULES = 32;

const target = new URL(process.argv[2]);
if (!['127.0.0.1', 'localhost', '[::1]'].includes(target.hostname)) throw new Error('the target must be on loopback');
let rules = [];
let held = [];

function matches(rule, request, url) {
  if (rule.method && rule.method !== request.method) return false;
  for (const [name, value] of Object.entries(rule.query || {})) {
    if (url.searchParams.get(name) !== value) return false;
  }
  if (rule.path && !new RegExp(rule.path).test(decodeURIComponent(url.pathname))) return false;
  rule.seen = (rule.seen || 0) + 1;
  if (rule.seen <= (rule.skip || 0)) return false;
  if (rule.forMs !== undefined) {
    rule.since = rule.since || Date.now();
    return Date.now() - rule.since < rule.forMs;
  }
  return (rule.applied || 0) < (rule.times === undefined ? Infinity : rule.times);
}

function errorAnswer(response, status, code, message, extra = {}, detail = '') {
  const body = `\ufeff<?xml version="1.0" encoding="utf-8"?><Error><Code>${code}</Code><Message>${message}</Message>` +
    (detail ? `<AuthenticationErrorDetail>${detail}</AuthenticationErrorDetail>` : '') + '</Error>';
  response.writeHead(status, { 'content-type': 'application/xml', 'x-ms-error-code': code, ...extra });
  response.end(body);
}

function forward(request, body, response, extraHeaders = {}) {
  const outgoing = http.request({
    host: target.hostname, port: target.port, method: request.method, path: request.url,
    headers: { ...request.headers, host: target.host },
  }, (answer) => {
    response.writeHead(answer.statusCode, { ...answer.headers, ...extraHeaders });
    answer.pipe(response);
  });
  outgoing.on('error', () => response.destroy());
  outgoing.end(body);
}

function control(request, body, response) {
  const reply = (value) => { response.writeHead(200, { 'content-type': 'application/json' }); response.end(JSON.stringify(value)); };
  if (request.url === '/_fault/rules' && request.method === 'POST') {
    const given = JSON.parse(body.toString() || '[]');
    if (!Array.isArray(given) || given.length > MAX_RULES) throw new Error('rules: an array of at most 32');
    rules = given;
    return reply({ rules: rules.length });
  }
  if (request.url === '/_fault/release' && request.method === 'POST') {
    const released = held.length;
    held.splice(0).forEach((go) => go());
    return reply({ released });
  }
  if (request.url === '/_fault/state') return reply({ rules, held: held.length });
  response.writeHead(404);
  response.end();
}

function handle(request, body, response) {
  const url = new URL(request.url, 'http://proxy');
  if (url.pathname.startsWith('/_fault/')) return control(request, body, response);
  const rule = rules.find((r) => matches(r, request, url));
  if (!rule) return forward(request, body, response);
  rule.applied = (rule.applied || 0) + 1;
  const go = () => forward(request, body, response);
  switch (rule.action) {
    case 'fail':
      return errorAnswer(response, rule.status, rule.code, rule.message || rule.code,
        rule.retryAfter !== undefined ? { 'retry-after': String(rule.retryAfter) } : {}, rule.detail || '');
    case 'drop':
      return request.socket.destroy();
    case 'forward':
      return forward(request, body, response, rule.headers || {});
    case 'hold':
      return held.push(go);
    case 'barrier':
      rule.waiting = (rule.waiting || []).concat([go]);
      if (rule.waiting.length >= rule.parties) {
        rule.waiting.splice(0).forEach((g) => g());
      } else if (rule.waiting.length === 1) {
        const waiting = rule.waiting;
        setTimeout(() => waiting.splice(0).forEach((g) => g()), rule.timeoutMs || 20000);
      }
      return undefined;
    case 'clock': {
      const sent = Date.parse(request.headers['x-ms-date'] || '');
      if (Math.abs(Date.now() + rule.offsetMs - sent) <= 15 * 60 * 1000) return go();
      return errorAnswer(response, 403, 'AuthenticationFailed',
        'Server failed to authenticate the request. Make sure the value of Authorization header is formed correctly including the signature.',
        {}, `Request date header too old: '${request.headers['x-ms-date']}'`);
    }
    default:
      return errorAnswer(response, 500, 'InternalError', 'unknown fault rule');
  }
}

const server = http.createServer((request, response) => {
  const chunks = [];
  let size = 0;
  request.on('data', (chunk) => {
    size += chunk.length;
    if (size > MAX_BODY) return request.socket.destroy();
    return chunks.push(chunk);
  });
  request.on('end', () => {
    try {
      handle(request, Buffer.concat(chunks), response);
    } catch (e) {
      response.writeHead(400);
      response.end(String(e.message));
    }
  });
});
server.maxConnections = MAX_CONNECTIONS;
server.listen(0, '127.0.0.1', () => console.log(`listening ${server.address().port}`));
