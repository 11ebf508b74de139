#!/usr/bin/env node
"use strict";
// A scripted, in-memory Cosmos DB-compatible server for the tools' end-to-end tests and
// benchmarks. It speaks the REST subset the wrapper uses, strictly (signatures, partition key
// headers, item limits), and adds what the wrapped fixture cannot: several partition key
// ranges, splits and merges on command, a change feed per range, request charges with a
// per-second budget, latency, session tokens with stale reads, and control endpoints under
// /_control (see README.md).
//
// Usage: node server.js [--port N] [--no-ssl] [--ranges N] [--ru-per-second N]
//          [--latency-ms N] [--lagging-reads] [--lag-ms N] [--serverless] [--merge-enabled]
//          [--ranges-page-size N] [--session-miss-every N] [--offer-migration] [--boundary-forms]
//          [--session-regions N] [--max-header-bytes N] [--all-versions-and-deletes] [--previous-images]
// The key comes from COSMOS_KEY (default: the public emulator key). Binds 127.0.0.1 only and
// prints "listening <port>" once ready.
const fs = require("fs");
const http = require("http");
const https = require("https");
const path = require("path");
const crypto = require("crypto");
const { checkSignature } = require("../fixture/signature");
const { EMULATOR_KEY } = require("./client");
const { Account } = require("./account");
const { RuBudget, Counters } = require("./charges");
const { Control } = require("./control");
const { route } = require("./routes");
const quirks = require("./quirks");

const MAX_REQUEST_BYTES = 4 * 1024 * 1024;
// Control arguments that are counts, when given as query parameters.
const NUMERIC_ARGS = new Set(["count", "start", "keyCount", "afterRequests", "items", "pid", "times", "status", "substatus",
  "updates", "deletes", "inserts", "round", "insertFrom", "retryAfterMs", "ruPerSecond", "latencyMs", "lagMs", "ranges",
  "completingMs", "rangesPageSize", "sessionMissEvery", "sessionRegions"]);
// The service's front end refuses a request whose request line and headers pass 16 KiB, before
// the service sees it, with this page (the answer the SDKs met with every range's session token).
const DEFAULT_MAX_HEADER_BYTES = 16 * 1024;
const HEADERS_TOO_LONG_PAGE = "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\"\"http://www.w3.org/TR/html4/strict.dtd\">\r\n" +
  "<HTML><HEAD><TITLE>Bad Request</TITLE>\r\n<META HTTP-EQUIV=\"Content-Type\" Content-Type=\"text/html; charset=us-ascii\"></HEAD>\r\n" +
  "<BODY><h2>Bad Request - Request Too Long</h2>\r\n<hr><p>HTTP Error 400. The size of the request headers is too long.</p>\r\n</BODY></HTML>\r\n";
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function readBody(req) {
  return new Promise((resolve, reject) => {
    const chunks = [];
    let size = 0;
    req.on("data", (c) => {
      size += c.length;
      if (size <= MAX_REQUEST_BYTES) chunks.push(c);
    });
    req.on("end", () => resolve(size > MAX_REQUEST_BYTES ? null : Buffer.concat(chunks)));
    req.on("error", reject);
  });
}

// The request line and headers as they came on the wire.
function headerBytes(req) {
  let bytes = req.method.length + req.url.length + 11; // "GET /x HTTP/1.1\r\n"
  for (let i = 0; i + 1 < req.rawHeaders.length; i += 2) bytes += req.rawHeaders[i].length + req.rawHeaders[i + 1].length + 4;
  return bytes + 2;
}

function parseJson(bytes) {
  if (bytes.length === 0) return undefined;
  try {
    return JSON.parse(bytes.toString("utf8"));
  } catch (err) {
    const e = new Error(`The request body is not valid JSON: ${err.message}`);
    e.status = 400;
    e.code = "BadRequest";
    throw e;
  }
}

function errorAnswer(err) {
  if (!err.status) {
    process.stderr.write(`${err.stack}\n`);
    return { status: 500, body: { code: "InternalServerError", message: err.message }, ru: 0 };
  }
  const headers = err.substatus !== undefined ? { "x-ms-substatus": String(err.substatus) } : {};
  return { status: err.status, body: { code: err.code || String(err.status), message: err.message }, headers, ru: err.status === 410 ? 0 : 1 };
}

function send(res, answer) {
  res.statusCode = answer.status;
  res.setHeader("content-type", "application/json");
  res.setHeader("x-ms-activity-id", crypto.randomUUID());
  res.setHeader("x-ms-request-charge", String(answer.ru || 0));
  for (const [k, v] of Object.entries(answer.headers || {})) res.setHeader(k, v);
  if (answer.body === undefined || answer.status === 204 || answer.status === 304) return res.end();
  return res.end(typeof answer.body === "string" ? answer.body : JSON.stringify(answer.body));
}

function defaultOptions() {
  return {
    ranges: 1, ruPerSecond: 0, latencyMs: 0, laggingReads: false, lagMs: 3000, serverless: false, key: EMULATOR_KEY, ssl: true,
    // The live service's ways that are off unless asked for (README.md, "Service quirks").
    mergeEnabled: false, rangesPageSize: 0, sessionMissEvery: 0, offerMigration: false, boundaryForms: false,
    ignoreKeyBounds: false, // a server that reads whole ranges whatever the epk headers say
    sessionRegions: 0, // > 0: a multi-region account, whose session tokens are vectors
    allVersionsAndDeletes: false, // the change feed's "all versions and deletes" mode (continuous backup)
    previousImages: false, // that feed's changes carry the replaced or deleted version ("previous")
    maxHeaderBytes: DEFAULT_MAX_HEADER_BYTES,
  };
}

function createScriptedServer(given = {}) {
  const options = { ...defaultOptions(), ...given };
  const state = { options, account: new Account(options), budget: new RuBudget(options.ruPerSecond), counters: new Counters() };
  const control = new Control(state);
  const serverOptions = { maxHeaderSize: options.maxHeaderBytes };
  const server = options.ssl ? https.createServer({ ...tlsFiles(), ...serverOptions }) : http.createServer(serverOptions);
  server.on("clientError", (err, socket) => {
    if (!socket.writable) return;
    if (err.code === "HPE_HEADER_OVERFLOW") {
      state.counters.add({ status: 400, ru: 0 });
      socket.end(`HTTP/1.1 400 Bad Request\r\nContent-Type: text/html; charset=us-ascii\r\nConnection: close\r\nContent-Length: ${Buffer.byteLength(HEADERS_TOO_LONG_PAGE)}\r\n\r\n${HEADERS_TOO_LONG_PAGE}`);
    } else {
      socket.end("HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n");
    }
  });
  // Connections stay open between requests, as the service keeps them (Node's default of
  // 5 s would make clients meet closed connections after every pause).
  server.keepAliveTimeout = 120 * 1000;

  const serveControl = async (req, res, segments, url) => {
    const query = Object.fromEntries([...url.searchParams].map(([k, v]) => [k, NUMERIC_ARGS.has(k) && /^\d+$/.test(v) ? Number(v) : v]));
    const args = { ...query, ...(parseJson(await readBody(req)) || {}) };
    const action = segments.slice(1).join("/");
    const actions = {
      stats: () => state.counters.snapshot(),
      "stats/reset": () => {
        state.counters.reset();
        return { reset: true };
      },
      config: () => control.config(args),
      ranges: () => control.ranges(args),
      split: () => control.split(args),
      merge: () => control.merge(args),
      expireHistory: () => control.expireHistory(args),
      recreate: () => control.recreate(args),
      fail: () => control.fail(args),
      kill: () => control.kill(args),
      killPidAfterItems: () => control.kill(args),
      seed: () => control.seed(args),
      mutate: () => control.mutate(args),
      dump: () => control.dump(args),
      reset: () => control.reset(),
    };
    if (!actions[action]) return send(res, { status: 404, body: { message: `No control action ${action}.` } });
    return send(res, { status: 200, body: actions[action]() });
  };

  const serveSigned = async (req, res, url, segments) => {
    if (segments[4] === "docs") state.counters.headerSeen(headerBytes(req));
    const reason = checkSignature(options.key, req, url.pathname);
    if (reason) return { status: 401, body: { code: "Unauthorized", message: reason }, ru: 0 };
    const refused = quirks.refusal(options, state, req, segments);
    if (refused) return refused;
    control.onRequest();
    const rangeId = req.headers["x-ms-documentdb-partitionkeyrangeid"];
    const injected = control.injected(rangeId === undefined ? undefined : String(rangeId).split(",").pop().trim(), url.pathname);
    if (options.latencyMs > 0) await sleep(options.latencyMs);
    if (injected) return injected;
    const missed = quirks.sessionMiss(options, state, req, segments);
    if (missed) return missed;
    if (!state.budget.admits()) {
      const wait = Math.max(1, state.budget.waitFor(1));
      return { status: 429, body: { code: "429", message: "Message: {\"Errors\":[\"Request rate is large.\"]}" }, headers: { "x-ms-retry-after-ms": String(wait), "x-ms-substatus": "3200" }, ru: 0 };
    }
    if (segments[0] === "offers") {
      state.account.offers.requireMigration = options.offerMigration;
      if (options.serverless) return { status: 400, body: { code: "BadRequest", message: "Reading or replacing offers is not supported for serverless accounts." }, ru: 1 };
      return { raw: true };
    }
    const body = await readBody(req);
    if (body === null) return { status: 413, body: { code: "RequestEntityTooLarge", message: "Request size is too large" }, ru: 0 };
    const address = server.address();
    const answer = route({
      method: req.method, segments, headers: req.headers, body: parseJson(body), options, account: state.account, budget: state.budget, control,
      scheme: options.ssl ? "https" : "http", host: address.address, port: address.port,
    });
    if (segments[4] === "docs" && String(req.headers["if-none-match"] || "").trim() === "*" && answer.status === 304 &&
        String(req.headers["a-im"] || "").toLowerCase() === "incremental feed") {
      control.onPosition(state.account.container(segments[1], segments[3]));
    }
    return answer;
  };

  server.on("request", async (req, res) => {
    const url = new URL(req.url, "http://localhost");
    let segments;
    try {
      segments = url.pathname.split("/").filter((s) => s.length > 0).map(decodeURIComponent);
      if (segments[0] === "_control") return await serveControl(req, res, segments, url);
    } catch (err) {
      return send(res, errorAnswer(err));
    }
    let answer;
    try {
      answer = await serveSigned(req, res, url, segments);
    } catch (err) {
      answer = errorAnswer(err);
    }
    if (answer.raw) {
      // Offers: the fixture's store answers itself, at 1 RU.
      state.budget.spend(1);
      state.counters.add({ status: 200, ru: 1 });
      return state.account.offers.serve(req, res, segments).catch((err) => send(res, errorAnswer(Object.assign(err, { status: 400 }))));
    }
    state.budget.spend(answer.ru || 0);
    state.counters.add({ ...answer, ru: answer.ru || 0 });
    control.onAnswer(answer);
    return send(res, answer);
  });
  return { server, state, control };
}

// The self-signed certificate that ships with the wrapped fixture's package (CN cosmosdb):
// clients switch verification off for both servers alike.
function tlsFiles() {
  const dir = path.dirname(require.resolve("@vercel/cosmosdb-server/package.json"));
  return { cert: fs.readFileSync(path.join(dir, "cert.pem")), key: fs.readFileSync(path.join(dir, "key.pem")) };
}

function parseArgs(argv) {
  const options = { port: 0, key: process.env.COSMOS_KEY || EMULATOR_KEY };
  const numbers = {
    "--port": "port", "--ranges": "ranges", "--ru-per-second": "ruPerSecond", "--latency-ms": "latencyMs", "--lag-ms": "lagMs",
    "--ranges-page-size": "rangesPageSize", "--session-miss-every": "sessionMissEvery",
    "--session-regions": "sessionRegions", "--max-header-bytes": "maxHeaderBytes",
  };
  const flags = {
    "--lagging-reads": ["laggingReads", true], "--serverless": ["serverless", true], "--no-ssl": ["ssl", false],
    "--merge-enabled": ["mergeEnabled", true], "--offer-migration": ["offerMigration", true], "--boundary-forms": ["boundaryForms", true],
    "--ignore-key-bounds": ["ignoreKeyBounds", true], "--all-versions-and-deletes": ["allVersionsAndDeletes", true],
    "--previous-images": ["previousImages", true],
  };
  for (let i = 0; i < argv.length; i += 1) {
    const a = argv[i];
    if (numbers[a]) {
      const n = Number(argv[++i]);
      if (!Number.isFinite(n) || n < 0) throw new Error(`${a} needs a number`);
      options[numbers[a]] = n;
    } else if (flags[a]) {
      options[flags[a][0]] = flags[a][1];
    } else {
      throw new Error(`unknown option ${a}`);
    }
  }
  if (options.ranges !== undefined && (!Number.isInteger(options.ranges) || options.ranges < 1)) throw new Error("--ranges needs a positive whole number");
  return options;
}

module.exports = { createScriptedServer };

if (require.main === module) {
  let options;
  try {
    options = parseArgs(process.argv.slice(2));
  } catch (err) {
    process.stderr.write(`${err.message}\n`);
    process.exit(2);
  }
  const { server } = createScriptedServer(options);
  server.listen(options.port, "127.0.0.1", () => process.stdout.write(`listening ${server.address().port}\n`));
  const stop = () => {
    server.close(() => process.exit(0));
    server.closeAllConnections();
  };
  process.on("SIGTERM", stop);
  process.on("SIGINT", stop);
}
