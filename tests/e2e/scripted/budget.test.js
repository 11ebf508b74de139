"use strict";
// The RU budget must throttle the way clients are told to handle: 429 with a retry time
// that, when obeyed, lets the request through; inside a transactional batch a 207 that names
// the throttled operation and writes nothing. The counters must add up what was charged.
const test = require("node:test");
const assert = require("node:assert");
const { startServer, DOCS } = require("./harness");

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function upsert(srv, item) {
  return srv.call("POST", DOCS, {
    body: item, headers: { "x-ms-documentdb-is-upsert": "True", "x-ms-documentdb-partitionkey": JSON.stringify([item.tenant]) },
  });
}

test("a spent budget answers 429/3200 with a retry time that works", async (t) => {
  const srv = await startServer({ ruPerSecond: 50 });
  t.after(() => srv.stop());
  await srv.control("seed", { db: "d", coll: "c", count: 0 });
  const answers = [];
  for (let i = 0; i < 12; i += 1) {
    let res = await upsert(srv, { id: `i${i}`, tenant: "a" });
    for (let tries = 1; res.status === 429; tries += 1, res = await upsert(srv, { id: `i${i}`, tenant: "a" })) {
      assert.strictEqual(tries, 1, "obeying the retry time gets through at the next attempt");
      answers.push(res);
      const wait = Number(res.headers["x-ms-retry-after-ms"]);
      assert.ok(wait > 0 && wait <= 1000, `retry after ${wait} ms`);
      await sleep(wait);
    }
    assert.strictEqual(res.status, 201);
    answers.push(res);
  }
  const throttled = answers.filter((a) => a.status === 429);
  assert.ok(throttled.length > 0, "12 writes of 6 RU within a 50 RU/s budget");
  assert.strictEqual(throttled[0].headers["x-ms-substatus"], "3200");
  assert.strictEqual(throttled[0].headers["x-ms-request-charge"], "0");

  const stats = await srv.control("stats");
  const charged = answers.reduce((n, a) => n + Number(a.headers["x-ms-request-charge"]), 0);
  assert.strictEqual(stats.throttled, throttled.length);
  assert.strictEqual(stats.itemsWritten, 12);
  assert.ok(Math.abs(stats.ru - charged) < 0.01, `${stats.ru} RU counted, ${charged} charged`);
});

test("a batch the budget cannot pay answers 207 with 429 at the operation that ran out, writing nothing", async (t) => {
  const srv = await startServer({ ruPerSecond: 400 });
  t.after(() => srv.stop());
  await srv.control("seed", { db: "d", coll: "c", count: 0 });
  const ops = Array.from({ length: 100 }, (_, i) => ({ operationType: "Upsert", partitionKey: '["a"]', resourceBody: { id: `b${i}`, tenant: "a" } }));
  const batch = () => srv.call("POST", DOCS, {
    body: ops, headers: { "x-ms-cosmos-is-batch-request": "True", "x-ms-cosmos-batch-atomic": "True", "x-ms-documentdb-partitionkey": '["a"]' },
  });
  // About 200 RU of the 400 are spent; the bucket takes half a second to fill again.
  assert.strictEqual((await upsert(srv, { id: "first", tenant: "a", text: "x".repeat(200 * 1024) })).status, 201);
  const res = await batch();
  assert.strictEqual(res.status, 207);
  const statuses = res.body.map((r) => r.statusCode);
  const at = statuses.indexOf(429);
  assert.ok(at > 0, `a 429 among ${statuses}`);
  assert.ok(statuses.every((s, i) => s === (i === at ? 429 : 424)));
  assert.strictEqual(res.body[at].subStatusCode, 3200);
  const wait = Number(res.headers["x-ms-retry-after-ms"]);
  assert.strictEqual(res.body[at].retryAfterMilliseconds, wait);
  assert.strictEqual((await srv.control("dump", { db: "d", coll: "c" })).items.length, 1, "nothing of the batch written");

  await sleep(wait);
  const retried = await batch();
  assert.strictEqual(retried.status, 200);
  assert.ok(retried.body.every((r) => r.statusCode === 201));
});
