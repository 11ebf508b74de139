"use strict";
// Shared by the server's own tests: a fresh server on a free port of 127.0.0.1 and small
// readers over its REST interface.
const { createScriptedServer } = require("./server");
const { request, control } = require("./client");

async function startServer(options) {
  const s = createScriptedServer({ ssl: false, ...options });
  await new Promise((resolve) => s.server.listen(0, "127.0.0.1", resolve));
  const endpoint = `${s.state.options.ssl ? "https" : "http"}://127.0.0.1:${s.server.address().port}/`;
  return {
    ...s,
    endpoint,
    call: (method, path, opts) => request(endpoint, method, path, opts),
    control: (action, args) => control(endpoint, action, args),
    stop: () => new Promise((resolve) => {
      s.server.closeAllConnections();
      s.server.close(resolve);
    }),
  };
}

const DOCS = "/dbs/d/colls/c/docs";

// One page of a range's read feed.
async function readPage(srv, rangeId, token, size = 50) {
  const headers = { "x-ms-documentdb-partitionkeyrangeid": rangeId, "x-ms-max-item-count": String(size) };
  if (token) headers["x-ms-continuation"] = token;
  return srv.call("GET", DOCS, { headers });
}

// Reads a range to its end from `token`; returns the ids read.
async function readRest(srv, rangeId, token) {
  const ids = [];
  let next = token;
  do {
    const res = await readPage(srv, rangeId, next);
    if (res.status !== 200) throw new Error(`read of range ${rangeId} answered ${res.status}: ${res.text}`);
    ids.push(...res.body.Documents.map((d) => d.id));
    next = res.headers["x-ms-continuation"];
  } while (next);
  return ids;
}

async function ranges(srv) {
  return (await srv.call("GET", "/dbs/d/colls/c/pkranges")).body.PartitionKeyRanges;
}

module.exports = { startServer, readPage, readRest, ranges, DOCS };
