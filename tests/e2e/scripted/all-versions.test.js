"use strict";
// The change feed's "all versions and deletes" mode: its headers, its start rules and 400s,
// its item shape; vector session tokens; the front end's limit on request headers.
const test = require("node:test");
const assert = require("node:assert");
const { startServer, DOCS } = require("./harness");
const { tokenFor, parseTokens } = require("./session");

const FULL_FIDELITY = { "a-im": "Full-Fidelity Feed", "x-ms-cosmos-changefeed-wire-format-version": "2021-09-15", "x-ms-documentdb-partitionkeyrangeid": "0" };
const feed = (srv, headers) => srv.call("GET", DOCS, { headers: { ...FULL_FIDELITY, ...headers } });
const write = (srv, method, path, body) => srv.call(method, path, { body, headers: { "x-ms-documentdb-partitionkey": '["t"]' } });

test("all versions and deletes: every change since a position, deletes by id and key", async (t) => {
  const srv = await startServer({ ranges: 1, allVersionsAndDeletes: true, previousImages: true });
  t.after(() => srv.stop());
  await srv.control("seed", { db: "d", coll: "c", count: 3 });
  const now = await feed(srv, { "if-none-match": "*" });
  assert.strictEqual(now.status, 304);
  await write(srv, "POST", DOCS, { id: "a", tenant: "t", v: 1 });
  await write(srv, "PUT", `${DOCS}/a`, { id: "a", tenant: "t", v: 2 });
  await write(srv, "DELETE", `${DOCS}/a`);
  const changes = await feed(srv, { "if-none-match": now.headers.etag });
  assert.strictEqual(changes.status, 200);
  const docs = changes.body.Documents;
  assert.deepStrictEqual(docs.map((d) => d.metadata.operationType), ["create", "replace", "delete"]);
  assert.strictEqual(docs[1].current.v, 2);
  assert.strictEqual(docs[1].previous.v, 1);
  assert.strictEqual(docs[2].current, undefined);
  assert.deepStrictEqual([docs[2].metadata.id, docs[2].metadata.partitionKey, docs[2].metadata.timeToLiveExpired], ["a", { tenant: "t" }, false]);
  assert.strictEqual((await feed(srv, { "if-none-match": changes.headers.etag })).status, 304);
  await srv.control("config", { previousImages: false });
  assert.deepStrictEqual((await feed(srv, { "if-none-match": now.headers.etag })).body.Documents.map((d) => d.previous), [undefined, undefined, undefined]);

  // Start rules: from the beginning, from a time, without the wire format: refused.
  assert.strictEqual((await feed(srv, {})).status, 400);
  assert.strictEqual((await feed(srv, { "if-none-match": "*", "if-modified-since": new Date().toUTCString() })).status, 400);
  assert.strictEqual((await feed(srv, { "if-none-match": "*", "x-ms-cosmos-changefeed-wire-format-version": "2020-01-01" })).status, 400);
  // A position older than the retention window: refused; one taken since: read.
  await srv.control("expireHistory", { db: "d", coll: "c" });
  const old = await feed(srv, { "if-none-match": now.headers.etag });
  assert.strictEqual(old.status, 400);
  assert.match(old.body.message, /retention/);
  assert.strictEqual((await feed(srv, { "if-none-match": changes.headers.etag })).status, 304);
});

test("an account without the mode refuses it", async (t) => {
  const srv = await startServer({ ranges: 1 });
  t.after(() => srv.stop());
  await srv.control("seed", { db: "d", coll: "c", count: 1 });
  const answer = await feed(srv, { "if-none-match": "*" });
  assert.strictEqual(answer.status, 400);
  assert.match(answer.body.message, /not enabled/);
});

test("vector session tokens and the request header limit", async (t) => {
  const token = tokenFor({ id: "7", lsn: 12 }, 3);
  assert.strictEqual(token, "7:3#1000000012#1=1000000012#2=1000000011#3=1000000010");
  assert.deepStrictEqual(parseTokens(`${token},8:-1#5`), [{ id: "7", lsn: 12 }, { id: "8", lsn: 5 }]);
  const srv = await startServer({ ranges: 1, maxHeaderBytes: 4096 });
  t.after(() => srv.stop());
  await srv.control("seed", { db: "d", coll: "c", count: 1 });
  const big = await srv.call("GET", DOCS, { headers: { "x-ms-documentdb-partitionkeyrangeid": "0", "x-ms-session-token": "0:-1#1,".repeat(700) } });
  assert.strictEqual(big.status, 400);
  assert.match(big.text, /Request Too Long/);
  const small = await srv.call("GET", DOCS, { headers: { "x-ms-documentdb-partitionkeyrangeid": "0" } });
  assert.strictEqual(small.status, 200);
  assert.ok((await srv.control("stats")).largestItemRequestHeader < 4096);
});
