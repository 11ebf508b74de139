"use strict";
// Items over REST: point operations, transactional batches, the read feed, the change feed
// and queries, each read confined to the range the request names. Every function returns an
// answer { status, body, headers, ru, itemsRead, itemsWritten } or throws an error with the
// service's status.
const pk = require("./partition-key");
const { charge } = require("./charges");
const feed = require("./feed");
const { parseQuery, project } = require("./query");
const { tokenFor, visibility } = require("./session");
const { Gone, NAME_STALE } = require("./ranges");
const allVersions = require("./all-versions");

const { BadRequest } = pk;
const MAX_BATCH_OPERATIONS = 100;
const isTrue = (headers, name) => String(headers[name] || "").toLowerCase() === "true";

function feedBody(container, texts) {
  return `{"_rid":"${container.rid}","Documents":[${texts.join(",")}],"_count":${texts.length}}`;
}

// The range a request names in x-ms-documentdb-partitionkeyrangeid, or null for all of them.
function namedRange(container, headers) {
  const id = headers["x-ms-documentdb-partitionkeyrangeid"];
  if (id === undefined) return null;
  return container.table.byId(String(id).split(",").pop().trim());
}

function pointRange(container, values) {
  return container.table.forKey(pk.effectiveKey(values));
}

// ---- single item operations ----

function write(ctx, container, type, body, id) {
  const { items } = container;
  const values = items.headerValues(ctx.headers["x-ms-documentdb-partitionkey"]);
  const plan = items.plan({ type, body, id, ifMatch: ctx.headers["if-match"] }, values);
  const range = pointRange(container, values);
  const [record] = items.apply([plan], range);
  return {
    status: plan.status, body: record.text, ru: charge.write(record.bytes), itemsWritten: 1,
    headers: { etag: record.doc._etag, "x-ms-session-token": tokenFor(range, ctx.options.sessionRegions) },
  };
}

function readOne(ctx, container, id) {
  const { items } = container;
  const values = items.headerValues(ctx.headers["x-ms-documentdb-partitionkey"]);
  const range = pointRange(container, values);
  const { read } = items.plan({ type: "Read", id }, values);
  if (!visibility(ctx.options, container.table, ctx.headers)(read)) throw new BadRequest("Entity with the specified id does not exist in the system.", 404, "NotFound");
  return {
    status: 200, body: read.text, ru: charge.pointRead(read.bytes), itemsRead: 1,
    headers: { etag: read.doc._etag, "x-ms-session-token": tokenFor(range, ctx.options.sessionRegions) },
  };
}

function removeOne(ctx, container, id) {
  const { items } = container;
  const values = items.headerValues(ctx.headers["x-ms-documentdb-partitionkey"]);
  const plan = items.plan({ type: "Delete", id, ifMatch: ctx.headers["if-match"] }, values);
  const range = pointRange(container, values);
  items.apply([plan], range);
  return { status: 204, ru: charge.remove(), itemsWritten: 1, headers: { "x-ms-session-token": tokenFor(range, ctx.options.sessionRegions) } };
}

// ---- transactional batch ----

function operationOf(raw) {
  const type = raw && raw.operationType;
  return { type, id: raw && (raw.id !== undefined ? raw.id : raw.resourceBody && raw.resourceBody.id), body: raw && raw.resourceBody, ifMatch: raw && raw.ifMatch };
}

function costOf(plan) {
  if (plan.read) return charge.pointRead(plan.read.bytes);
  if (plan.remove) return charge.remove();
  return charge.write(Buffer.byteLength(plan.text));
}

// Plans every operation; stops at the first that fails. Then, when the RU budget cannot pay
// the whole batch, the operation at which it runs out is answered 429, with the time after
// which the budget holds the whole batch (or a full second's worth).
function planBatch(ctx, container, operations, values) {
  const pending = new Map();
  const plans = [];
  let spent = 0;
  for (const op of operations) {
    let plan;
    try {
      plan = container.items.plan(op, values, pending);
    } catch (err) {
      if (!err.status || err.status >= 500) throw err;
      return { plans, spent: spent + 1, failure: { statusCode: err.status, requestCharge: 1, message: err.message } };
    }
    const cost = costOf(plan);
    spent += cost;
    plans.push({ plan, cost });
    if (plan.doc) pending.set(plan.key, { doc: plan.doc });
    if (plan.remove) pending.set(plan.key, null);
  }
  if (ctx.budget.affords(spent)) return { plans, spent };
  const wait = ctx.budget.waitFor(spent);
  const available = ctx.budget.refill();
  let at = 0;
  for (let paid = 0; at < plans.length - 1 && paid + plans[at].cost <= available; at += 1) paid += plans[at].cost;
  // Throttled before anything ran: like a 429 answer, it costs nothing.
  return { plans: plans.slice(0, at), spent: 0, failure: { statusCode: 429, subStatusCode: 3200, requestCharge: 0, retryAfterMilliseconds: wait }, wait };
}

function batch(ctx, container, raw) {
  if (!Array.isArray(raw) || raw.length === 0) throw new BadRequest("A batch needs a non-empty array of operations.");
  if (raw.length > MAX_BATCH_OPERATIONS) throw new BadRequest(`A batch holds at most ${MAX_BATCH_OPERATIONS} operations.`);
  if (!isTrue(ctx.headers, "x-ms-cosmos-batch-atomic")) throw new BadRequest("The test server serves transactional batches only (x-ms-cosmos-batch-atomic: True).");
  const { items } = container;
  const header = ctx.headers["x-ms-documentdb-partitionkey"];
  const values = items.headerValues(header);
  for (const op of raw) {
    if (op && op.partitionKey !== undefined && !pk.sameValues(items.headerValues(op.partitionKey), values)) {
      throw new BadRequest("Batch request has operations with different partition keys than the request's.");
    }
  }
  const range = pointRange(container, values);
  const { plans, spent, failure, wait } = planBatch(ctx, container, raw.map(operationOf), values);
  if (failure) {
    const results = raw.map((_, i) => (i === plans.length ? failure : { statusCode: 424, requestCharge: 0 }));
    const headers = wait !== undefined ? { "x-ms-retry-after-ms": String(wait), "x-ms-substatus": "3200" } : {};
    return { status: 207, body: results, ru: spent, headers, throttledInside: wait !== undefined };
  }
  const written = items.apply(plans.map((p) => p.plan), range);
  let w = 0;
  const results = plans.map(({ plan, cost }) => {
    if (plan.read) return { statusCode: 200, requestCharge: cost, eTag: plan.read.doc._etag, resourceBody: plan.read.doc };
    const record = written[w++];
    if (plan.remove) return { statusCode: 204, requestCharge: cost };
    return { statusCode: plan.status, requestCharge: cost, eTag: record.doc._etag, resourceBody: record.doc };
  });
  return { status: 200, body: results, ru: spent, itemsWritten: written.length, headers: { "x-ms-session-token": tokenFor(range, ctx.options.sessionRegions) } };
}

// ---- reads: feed, queries, change feed ----

// What a read covers: the named range (or the container), narrowed by its token, and by the
// partition key header when one is given (a single-partition read); and what it may see.
function readSpan(ctx, container) {
  const range = namedRange(container, ctx.headers);
  const continuation = ctx.headers["x-ms-continuation"];
  const token = continuation ? feed.decodeToken(continuation) : null;
  if (token && token.rid !== undefined && token.rid !== container.rid) {
    throw new Gone(range ? range.id : "", NAME_STALE, " (the continuation belongs to a deleted container of the same name)");
  }
  const span = { ...feed.interval(range, ctx.headers, token, container.table, ctx.options.ignoreKeyBounds), rid: container.rid };
  const fresh = visibility(ctx.options, container.table, ctx.headers);
  let visible = fresh;
  const keyHeader = ctx.headers["x-ms-documentdb-partitionkey"];
  if (keyHeader !== undefined) {
    const values = container.items.headerValues(keyHeader);
    const key = pk.keyText(values);
    const epk = pk.effectiveKey(values);
    if (epk > span.min) span.min = epk;
    if (`${epk}0` < span.max) span.max = `${epk}0`;
    visible = (r) => pk.keyText(r.values) === key && fresh(r);
  }
  const source = (min, max, from) => container.items.slice(min, max, from);
  const headers = range ? { "x-ms-session-token": tokenFor(range, ctx.options.sessionRegions) } : {};
  return { range, token, span, visible, source, headers };
}

function pageAnswer(container, read, size, toText, ruOf) {
  const { records, continuation } = feed.page(read.source, read.span, read.token, size,
    (r) => (read.visible(r) ? r.bytes : null));
  const texts = records.map(toText);
  const headers = { ...read.headers, "x-ms-item-count": String(texts.length) };
  if (continuation) headers["x-ms-continuation"] = continuation;
  const bytes = texts.reduce((n, t) => n + Buffer.byteLength(t), 0);
  return { status: 200, body: feedBody(container, texts), headers, ru: ruOf(bytes, texts.length), itemsRead: texts.length };
}

function readFeed(ctx, container) {
  const read = readSpan(ctx, container);
  return pageAnswer(container, read, feed.pageSize(ctx.headers["x-ms-max-item-count"]), (r) => r.text, (bytes) => charge.feedPage(bytes));
}

function query(ctx, container, body) {
  if (String(ctx.headers["content-type"] || "").split(";")[0].trim() !== "application/query+json") {
    throw new BadRequest("A query needs Content-Type: application/query+json.", 400);
  }
  const q = parseQuery(body);
  const read = readSpan(ctx, container);
  if (!read.range && !isTrue(ctx.headers, "x-ms-documentdb-query-enablecrosspartition") && ctx.headers["x-ms-documentdb-partitionkey"] === undefined) {
    throw new BadRequest("Cross partition query is required but disabled. Please set x-ms-documentdb-query-enablecrosspartition to true.");
  }
  if (q.kind === "count") {
    let n = 0;
    for (const r of read.source(read.span.min, read.span.max, read.token)) if (read.visible(r)) n += 1;
    return { status: 200, body: feedBody(container, [String(n)]), headers: { ...read.headers, "x-ms-item-count": "1" }, ru: charge.count(n) };
  }
  const size = feed.pageSize(ctx.headers["x-ms-max-item-count"]);
  if (q.kind === "all") return pageAnswer(container, read, size, (r) => r.text, (bytes) => charge.feedPage(bytes));
  return pageAnswer(container, read, size, (r) => JSON.stringify(project(q, r.doc)), (bytes, n) => charge.projection(n));
}

function sinceOf(header, range) {
  if (header === undefined || header === "") return 0;
  if (header.trim() === "*") return range.lsn;
  const m = /^\s*(?:W\/)?"?(\d+)"?\s*$/.exec(header);
  if (!m) throw new BadRequest(`If-None-Match ${header} is not an etag of the change feed.`);
  return Number(m[1]);
}

function changeFeed(ctx, container) {
  const range = namedRange(container, ctx.headers);
  if (!range) throw new BadRequest("The change feed is read per partition key range: x-ms-documentdb-partitionkeyrangeid is missing.");
  const since = sinceOf(ctx.headers["if-none-match"], range);
  const span = feed.interval(range, ctx.headers, null, container.table, ctx.options.ignoreKeyBounds);
  const { records, complete } = feed.changes([...container.items.slice(span.min, span.max)], since, feed.pageSize(ctx.headers["x-ms-max-item-count"]));
  const etag = complete ? Math.max(since, range.lsn) : records[records.length - 1].lsn;
  const headers = { etag: `"${etag}"`, "x-ms-session-token": tokenFor(range, ctx.options.sessionRegions) };
  if (records.length === 0) return { status: 304, headers, ru: charge.notModified() };
  const texts = records.map((r) => `${r.text.slice(0, -1)},"_lsn":${r.lsn}}`);
  const bytes = texts.reduce((n, t) => n + Buffer.byteLength(t), 0);
  return {
    status: 200, body: feedBody(container, texts), ru: charge.changeFeed(bytes), itemsRead: texts.length,
    headers: { ...headers, "x-ms-item-count": String(texts.length) },
  };
}

// The "all versions and deletes" feed of the named range (all-versions.js), paged like the
// latest-version feed.
function allVersionsFeed(ctx, container) {
  const range = namedRange(container, ctx.headers);
  if (!range) throw new BadRequest("The change feed is read per partition key range: x-ms-documentdb-partitionkeyrangeid is missing.");
  const since = allVersions.startOf(ctx.options, ctx.headers, range);
  const span = feed.interval(range, ctx.headers, null, container.table, ctx.options.ignoreKeyBounds);
  const { records, complete } = feed.changes(allVersions.changesIn(container.items.history, span, since), since, feed.pageSize(ctx.headers["x-ms-max-item-count"]));
  const etag = complete ? Math.max(since, range.lsn) : records[records.length - 1].lsn;
  const headers = { etag: `"${etag}"`, "x-ms-session-token": tokenFor(range, ctx.options.sessionRegions) };
  if (records.length === 0) return { status: 304, headers, ru: charge.notModified() };
  const texts = records.map((e) => allVersions.changeText(e, container.resource.partitionKey.paths, ctx.options.previousImages));
  const bytes = texts.reduce((n, t) => n + Buffer.byteLength(t), 0);
  return {
    status: 200, body: feedBody(container, texts), ru: charge.changeFeed(bytes), itemsRead: texts.length,
    headers: { ...headers, "x-ms-item-count": String(texts.length) },
  };
}

// Serves METHOD on /dbs/d/colls/c/docs[/id].
function serveDocs(ctx, container, id) {
  const { method, headers, body } = ctx;
  if (id !== undefined) {
    if (method === "GET") return readOne(ctx, container, id);
    if (method === "PUT") return write(ctx, container, "Replace", body, id);
    if (method === "DELETE") return removeOne(ctx, container, id);
    throw new BadRequest("Method not allowed.", 405, "MethodNotAllowed");
  }
  if (method === "GET") {
    if (allVersions.isAllVersionsRequest(headers)) return allVersionsFeed(ctx, container);
    return String(headers["a-im"] || "").toLowerCase() === "incremental feed" ? changeFeed(ctx, container) : readFeed(ctx, container);
  }
  if (method !== "POST") throw new BadRequest("Method not allowed.", 405, "MethodNotAllowed");
  if (isTrue(headers, "x-ms-documentdb-isquery")) return query(ctx, container, body);
  if (isTrue(headers, "x-ms-cosmos-is-batch-request")) return batch(ctx, container, body);
  return write(ctx, container, isTrue(headers, "x-ms-documentdb-is-upsert") ? "Upsert" : "Create", body);
}

module.exports = { serveDocs };
