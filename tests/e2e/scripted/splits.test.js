"use strict";
// A read that is cut by a split or a merge must go on in the new ranges from the old token
// and end with every item of the old range exactly once; the change feed must go on from a
// parent's etag in the same way.
const test = require("node:test");
const assert = require("node:assert");
const { startServer, readPage, readRest, ranges, DOCS } = require("./harness");

const sorted = (ids) => [...ids].sort();

async function rangeItems(srv, id) {
  return sorted(await readRest(srv, id));
}

test("a split mid-read: 410/1002 for the parent, children continue its token exactly", async (t) => {
  const srv = await startServer({ ranges: 2 });
  t.after(() => srv.stop());
  await srv.control("seed", { db: "d", coll: "c", count: 600 });
  const expected = await rangeItems(srv, "0");
  assert.ok(expected.length > 150);

  const seen = [];
  let token;
  for (let page = 0; page < 3; page += 1) {
    const res = await readPage(srv, "0", token);
    seen.push(...res.body.Documents.map((d) => d.id));
    token = res.headers["x-ms-continuation"];
  }
  await srv.control("split", { db: "d", coll: "c", range: "0" });
  const gone = await readPage(srv, "0", token);
  assert.strictEqual(gone.status, 410);
  assert.strictEqual(gone.headers["x-ms-substatus"], "1002");

  const children = (await ranges(srv)).filter((r) => r.parents.includes("0"));
  assert.strictEqual(children.length, 2);
  for (const child of children) seen.push(...(await readRest(srv, child.id, token)));
  assert.deepStrictEqual(sorted(seen), expected);

  // A token of one range is refused by a range it does not overlap.
  const other = await readPage(srv, "1", token);
  assert.strictEqual(other.status, 400);
});

test("a merge: 410/1002 for both parents once it completed, each parent's token continues over its own part only", async (t) => {
  const srv = await startServer({ ranges: 3 });
  t.after(() => srv.stop());
  await srv.control("seed", { db: "d", coll: "c", count: 600 });
  const expected = sorted([...(await rangeItems(srv, "0")), ...(await rangeItems(srv, "1"))]);
  const first = [await readPage(srv, "0"), await readPage(srv, "1")];
  await srv.control("merge", { db: "d", coll: "c", range: "0", afterRequests: 1 });
  await srv.call("GET", "/dbs/d/colls/c"); // the one request before the merge
  const gone = await readPage(srv, "1", first[1].headers["x-ms-continuation"]);
  assert.deepStrictEqual([gone.status, gone.headers["x-ms-substatus"]], [410, "1002"]);

  const [merged] = (await ranges(srv)).filter((r) => r.parents.includes("0") && r.parents.includes("1"));
  const seen = first.flatMap((p) => p.body.Documents.map((d) => d.id));
  for (const page of first) seen.push(...(await readRest(srv, merged.id, page.headers["x-ms-continuation"])));
  assert.deepStrictEqual(sorted(seen), expected);
});

test("the change feed goes on from a parent's etag in its children, latest versions only, no deletions", async (t) => {
  const srv = await startServer({ ranges: 1 });
  t.after(() => srv.stop());
  await srv.control("seed", { db: "d", coll: "c", count: 300 });
  const feed = (rangeId, etag) => srv.call("GET", DOCS, {
    headers: { "a-im": "Incremental feed", "x-ms-documentdb-partitionkeyrangeid": rangeId, "x-ms-max-item-count": "1000", ...(etag ? { "if-none-match": etag } : {}) },
  });
  const all = await feed("0");
  assert.strictEqual(all.body._count, 300);
  const etag = all.headers.etag;
  assert.strictEqual((await feed("0", etag)).status, 304);
  assert.strictEqual((await feed("0", "*")).status, 304);

  const changes = await srv.control("mutate", { db: "d", coll: "c", updates: 20, deletes: 10, inserts: 5 });
  const again = await srv.control("mutate", { db: "d", coll: "c", updates: 20, deletes: 0, inserts: 0, round: 2 });
  await srv.control("split", { db: "d", coll: "c", range: "0" });
  assert.strictEqual((await feed("0", etag)).status, 410);

  const got = [];
  for (const child of await ranges(srv)) {
    const res = await feed(child.id, etag);
    assert.strictEqual(res.status, 200);
    got.push(...res.body.Documents);
    assert.strictEqual((await feed(child.id, res.headers.etag)).status, 304);
  }
  const ids = got.map((d) => d.id);
  assert.strictEqual(new Set(ids).size, ids.length, "each changed item once");
  for (const id of changes.deleted) assert.ok(!ids.includes(id), `deleted ${id} appears`);
  assert.strictEqual(ids.length, new Set([...changes.updated, ...again.updated]).size + changes.inserted);
  for (const d of got) {
    assert.ok(Number.isInteger(d._lsn));
    if (again.updated.includes(d.id)) assert.strictEqual(d.revision, 2);
  }
});
