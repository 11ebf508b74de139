"use strict";
// Where the service is strict the server must be too (partition key headers, hierarchical
// keys only with a recent API version), counts and key-only queries must add up per range,
// stale reads must need the session token, and a client can be killed after N items.
const test = require("node:test");
const assert = require("node:assert");
const { spawn } = require("child_process");
const { startServer, ranges, DOCS } = require("./harness");

const query = (srv, sql, rangeId, extra = {}) => srv.call("POST", DOCS, {
  body: { query: sql, parameters: [] },
  headers: { "content-type": "application/query+json", "x-ms-documentdb-isquery": "True", "x-ms-documentdb-partitionkeyrangeid": rangeId, "x-ms-max-item-count": "1000", ...extra },
});

test("partition key headers and definitions are checked like the service", async (t) => {
  const srv = await startServer({ ranges: 2 });
  t.after(() => srv.stop());
  await srv.call("POST", "/dbs", { body: { id: "d" } });
  const multi = { id: "c", partitionKey: { paths: ["/a", "/b/c"], kind: "MultiHash", version: 2 } };
  assert.strictEqual((await srv.call("POST", "/dbs/d/colls", { body: multi })).status, 400);
  const created = await srv.call("POST", "/dbs/d/colls", { body: { ...multi, defaultTtl: -1, uniqueKeyPolicy: { uniqueKeys: [] } }, headers: { "x-ms-version": "2020-07-15" } });
  assert.strictEqual(created.status, 201);
  assert.deepStrictEqual([created.body.defaultTtl, created.body.uniqueKeyPolicy], [-1, { uniqueKeys: [] }]);

  const item = { id: "x", a: "one", b: { c: 2 } };
  const create = (header) => srv.call("POST", DOCS, { body: item, headers: header === undefined ? {} : { "x-ms-documentdb-partitionkey": header } });
  assert.strictEqual((await create(undefined)).status, 400);
  assert.strictEqual((await create('["one"]')).status, 400);
  assert.strictEqual((await create('["one","2"]')).status, 400);
  assert.strictEqual((await create('["one",2]')).status, 201);
  assert.strictEqual((await create('["one",2]')).status, 409);
  const read = (header) => srv.call("GET", `${DOCS}/x`, { headers: { "x-ms-documentdb-partitionkey": header } });
  assert.strictEqual((await read('["one",3]')).status, 404);
  assert.strictEqual((await read('["one",2]')).body.b.c, 2);
});

test("counts and key-only queries per range add up to the container", async (t) => {
  const srv = await startServer({ ranges: 4 });
  t.after(() => srv.stop());
  await srv.control("seed", { db: "d", coll: "c", count: 500 });
  let counted = 0;
  const keys = [];
  for (const r of await ranges(srv)) {
    counted += (await query(srv, "SELECT VALUE COUNT(1) FROM c", r.id)).body.Documents[0];
    const page = await query(srv, "SELECT c.id, c.tenant FROM c", r.id);
    assert.ok(Number(page.headers["x-ms-request-charge"]) < 10, "a key-only page is cheap");
    keys.push(...page.body.Documents);
  }
  assert.strictEqual(counted, 500);
  assert.strictEqual(new Set(keys.map((k) => k.id)).size, 500);
  assert.deepStrictEqual(Object.keys(keys[0]).sort(), ["id", "tenant"]);
  assert.strictEqual((await query(srv, "SELECT c.id FROM c WHERE c.seq > 1", "0")).status, 400);
});

test("with lagging reads, only a read carrying the writes' session token sees them all", async (t) => {
  const srv = await startServer({ ranges: 1, laggingReads: true, lagMs: 60000 });
  t.after(() => srv.stop());
  await srv.control("seed", { db: "d", coll: "c", count: 0 });
  let token;
  for (let i = 0; i < 5; i += 1) {
    const res = await srv.call("POST", DOCS, { body: { id: `i${i}`, tenant: "t" }, headers: { "x-ms-documentdb-partitionkey": '["t"]' } });
    token = res.headers["x-ms-session-token"];
  }
  const count = async (headers) => (await query(srv, "SELECT VALUE COUNT(1) FROM c", "0", headers)).body.Documents[0];
  assert.ok((await count({})) < 5);
  assert.strictEqual(await count({ "x-ms-session-token": token }), 5);
});

test("a client is killed once it has read the given number of items", async (t) => {
  const srv = await startServer({ ranges: 1 });
  t.after(() => srv.stop());
  await srv.control("seed", { db: "d", coll: "c", count: 30 });
  const victim = spawn("sleep", ["30"]);
  const exited = new Promise((resolve) => victim.on("exit", (code, signal) => resolve(signal)));
  await srv.control("kill", { pid: victim.pid, items: 25, count: "read" });
  const page = () => srv.call("GET", DOCS, { headers: { "x-ms-documentdb-partitionkeyrangeid": "0", "x-ms-max-item-count": "20" } });
  await page();
  assert.strictEqual(victim.exitCode === null && victim.signalCode === null, true, "alive after 20 items");
  await page();
  assert.strictEqual(await exited, "SIGKILL");
});
