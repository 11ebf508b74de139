"use strict";
// Control endpoints under /_control (unsigned, never charged or counted) that let a test
// script the service: splits and merges after a number of requests, injected failures,
// killing a client after it has read or written a number of items, the RU budget, latency,
// counters, and seeding, changing and dumping containers.
const pk = require("./partition-key");
const { RuBudget } = require("./charges");
const { seedItems, updated } = require("./seed-items");
const allVersions = require("./all-versions");

const { BadRequest } = pk;
const SYSTEM = new Set(["_rid", "_self", "_etag", "_attachments", "_ts"]);

// JSON with object keys sorted, so equal states print equal.
function canonical(value) {
  if (Array.isArray(value)) return value.map(canonical);
  if (value === null || typeof value !== "object") return value;
  const out = {};
  for (const k of Object.keys(value).sort()) out[k] = canonical(value[k]);
  return out;
}

function splitBoundary(container, range) {
  const keys = [...new Set([...container.items.slice(range.minInclusive, range.maxExclusive)].map((r) => r.epk))];
  return keys.length >= 2 ? keys[keys.length >> 1] : container.table.midpoint(range);
}

class Control {
  constructor(state) {
    this.state = state; // { options, account, budget, counters }
    this.scheduled = []; // { left, run }
    this.faults = []; // { left, times, range, status, substatus, retryAfterMs }
    this.killers = []; // { pid, items, counted, count, signal }
    this.onRangePages = []; // { container, run }: run after a range list page that has more pages
    this.onPositions = []; // { container, left, run }: run after `left` change-feed positions were asked
  }

  // Called after a page of a container's range list that is followed by more pages.
  onRangePage(container) {
    for (const job of this.onRangePages.filter((j) => j.container === container)) {
      this.onRangePages.splice(this.onRangePages.indexOf(job), 1);
      job.run();
    }
  }

  // Called after a change-feed request that asked for the position now (If-None-Match: *).
  onPosition(container) {
    for (const job of this.onPositions.filter((j) => j.container === container)) {
      if (--job.left > 0) continue;
      this.onPositions.splice(this.onPositions.indexOf(job), 1);
      job.run();
    }
  }

  // Called once per signed request before it is served: runs what has come due.
  onRequest() {
    for (const job of [...this.scheduled]) {
      if (job.left-- > 0) continue;
      this.scheduled.splice(this.scheduled.indexOf(job), 1);
      try {
        job.run();
      } catch (err) {
        // The request that happens to come next is not to blame: the scripted change is dropped.
        process.stderr.write(`scheduled change failed: ${err.message}\n`);
      }
    }
  }

  // An injected answer for a request naming `rangeId` (undefined: no range), or null.
  injected(rangeId, pathname) {
    for (const f of [...this.faults]) {
      if (f.until !== undefined && Date.now() >= f.until) {
        this.faults.splice(this.faults.indexOf(f), 1);
        continue;
      }
      if (f.range !== undefined && f.range !== rangeId) continue;
      if (f.pathContains !== undefined && !pathname.includes(f.pathContains)) continue;
      if (f.left > 0) {
        f.left -= 1;
        continue;
      }
      if (--f.times <= 0) this.faults.splice(this.faults.indexOf(f), 1);
      const headers = {};
      if (f.substatus !== undefined) headers["x-ms-substatus"] = String(f.substatus);
      if (f.status === 429) headers["x-ms-retry-after-ms"] = String(f.retryAfterMs || 100);
      return { status: f.status, body: { code: String(f.status), message: f.message || "Injected by the test server." }, headers, ru: 0 };
    }
    return null;
  }

  // Called with each answer before it is sent.
  onAnswer(answer) {
    for (const k of [...this.killers]) {
      if (k.count !== "written") k.counted += answer.itemsRead || 0;
      if (k.count !== "read") k.counted += answer.itemsWritten || 0;
      if (k.counted < k.items) continue;
      this.killers.splice(this.killers.indexOf(k), 1);
      try {
        process.kill(k.pid, k.signal);
        k.killed = true;
      } catch (err) {
        process.stderr.write(`could not kill ${k.pid}: ${err.message}\n`);
      }
    }
  }

  later(afterRequests, run) {
    const left = Number(afterRequests || 0);
    if (left <= 0) return run();
    this.scheduled.push({ left: left - 1, run });
    return { scheduled: true, afterRequests: left };
  }

  // A split now, after `afterRequests` requests, between two pages of the next paged range
  // list (`betweenRangePages`), or after `completingMs` during which requests naming the range
  // answer 410 with `substatus` (1007 split completing, 1008 migration completing).
  split({ db, coll, range, afterRequests, boundary, betweenRangePages, completingMs, substatus = 1007 }) {
    const container = this.state.account.container(db, coll);
    const run = () => {
      const old = container.table.byId(String(range));
      const children = container.table.split(old.id, boundary ? container.table.normalize(boundary) : splitBoundary(container, old));
      return { children: children.map((r) => container.table.describe(r, container.self)) };
    };
    if (betweenRangePages) {
      this.onRangePages.push({ container, run });
      return { scheduled: "betweenRangePages" };
    }
    if (completingMs > 0) {
      container.table.byId(String(range));
      this.faults.push({ status: 410, substatus, times: Infinity, left: 0, range: String(range), until: Date.now() + completingMs });
      setTimeout(() => {
        try {
          run();
        } catch (err) {
          process.stderr.write(`scheduled split failed: ${err.message}\n`);
        }
      }, completingMs);
      return { scheduled: "completing", completingMs, substatus };
    }
    return this.later(afterRequests, run);
  }

  // Deletes the container and creates one of the same name and definition (a new _rid, the
  // same throughput, `seed` items), now or after `afterRequests` requests. The old
  // container's range ids and continuations then answer 410/1000.
  recreate({ db, coll, afterRequests, seed = 0 }) {
    const { account } = this.state;
    const old = account.container(db, coll);
    return this.later(afterRequests, () => {
      const definition = {};
      for (const [k, v] of Object.entries(old.resource)) if (!k.startsWith("_")) definition[k] = v;
      const offer = [...account.offers.offers.values()].find((o) => o.offerResourceId === old.rid);
      const headers = { "x-ms-version": "2020-07-15" };
      if (offer && offer.content.offerAutopilotSettings) headers["x-ms-cosmos-offer-autopilot-settings"] = JSON.stringify(offer.content.offerAutopilotSettings);
      else if (offer) headers["x-ms-offer-throughput"] = String(offer.content.offerThroughput);
      account.deleteContainer(db, coll);
      const resource = account.createContainer(db, definition, headers);
      if (seed > 0) this.seed({ db, coll, count: seed });
      return { recreated: true, rid: resource._rid, was: old.rid };
    });
  }

  merge({ db, coll, range, afterRequests }) {
    const container = this.state.account.container(db, coll);
    return this.later(afterRequests, () => ({ child: container.table.describe(container.table.merge(String(range)), container.self) }));
  }

  fail({ status = 410, substatus, times = 1, afterRequests = 0, range, pathContains, retryAfterMs, message }) {
    this.faults.push({ status, substatus, times, left: afterRequests, range: range === undefined ? undefined : String(range), pathContains, retryAfterMs, message });
    return { injected: true };
  }

  kill({ pid, items, count = "any", signal = "SIGKILL" }) {
    if (!Number.isInteger(pid) || pid <= 1 || pid === process.pid) throw new BadRequest("pid must be another process's id.");
    if (!Number.isInteger(items) || items < 0) throw new BadRequest("items must be a count.");
    if (!["any", "read", "written"].includes(count)) throw new BadRequest("count must be any, read or written.");
    this.killers.push({ pid, items, counted: 0, count, signal });
    return { armed: true };
  }

  config(changes) {
    const { options } = this.state;
    for (const k of ["ruPerSecond", "latencyMs", "laggingReads", "lagMs", "ranges", "serverless",
      "mergeEnabled", "rangesPageSize", "sessionMissEvery", "offerMigration", "boundaryForms", "ignoreKeyBounds", "sessionRegions",
      "allVersionsAndDeletes", "previousImages"]) {
      if (changes[k] !== undefined) options[k] = changes[k];
    }
    if (changes.ruPerSecond !== undefined) this.state.budget = new RuBudget(options.ruPerSecond);
    return { options };
  }

  // The "all versions and deletes" feed forgets every change so far (its retention window
  // passes): positions taken before now are refused.
  expireHistory({ db, coll }) {
    allVersions.expire(this.state.account.container(db, coll));
    return { expired: true };
  }

  ranges({ db, coll }) {
    const container = this.state.account.container(db, coll);
    const { table } = container;
    const count = (r) => [...container.items.slice(r.minInclusive, r.maxExclusive)].length;
    return {
      live: table.ranges.map((r) => ({ ...table.describe(r, container.self), lsn: r.lsn, items: count(r) })),
      retired: [...table.retired.entries()].map(([id, v]) => ({ id, substatus: v.substatus, minInclusive: v.range.minInclusive, maxExclusive: v.range.maxExclusive })),
    };
  }

  ensureContainer({ db, coll, partitionKey, version }) {
    const { account } = this.state;
    if (!account.databases.has(db)) account.createDatabase({ id: db }, {});
    if (!account.databases.get(db).containers.has(coll)) {
      const definition = partitionKey || { paths: ["/tenant"], kind: "Hash", version: 2 };
      account.createContainer(db, { id: coll, partitionKey: definition }, { "x-ms-version": version || "2020-07-15" });
    }
    return account.container(db, coll);
  }

  upsertAll(container, docs) {
    const { items } = container;
    for (const doc of docs) {
      const values = pk.valuesOf(container.paths, doc);
      const plan = items.plan({ type: "Upsert", body: doc }, values);
      items.apply([plan], container.table.forKey(pk.effectiveKey(values)));
    }
  }

  seed(args) {
    const container = this.ensureContainer(args);
    const docs = seedItems({ count: args.count, start: args.start || 0, paths: container.resource.partitionKey.paths, keyCount: args.keyCount });
    // A legacy container holds items with a _partitionKey and items without one.
    if (container.systemKey) docs.forEach((doc, i) => i % 3 === 0 && delete doc._partitionKey);
    this.upsertAll(container, docs);
    return { seeded: docs.length, total: container.items.count };
  }

  // Deterministic changes: `updates` items spread evenly over the key order are updated,
  // `deletes` others spread over the rest are deleted, and `inserts` new items are added
  // (ids from `insertFrom`, by default a million times the round).
  // With `afterPositions`, the changes are made once the change feed's position has been asked
  // of every live range (an increment starting): items changed before it can be changed again.
  mutate(args) {
    if (!args.afterPositions) return this.mutateNow(args);
    const container = this.state.account.container(args.db, args.coll);
    this.onPositions.push({ container, left: container.table.ranges.length, run: () => this.mutateNow(args) });
    return { scheduled: "afterPositions" };
  }

  mutateNow({ db, coll, updates = 0, deletes = 0, inserts = 0, insertFrom, round = 1 }) {
    const container = this.state.account.container(db, coll);
    const spread = (list, n) => {
      const step = Math.max(1, Math.floor(list.length / Math.max(n, 1)));
      return list.filter((_, i) => i % step === 0).slice(0, n);
    };
    const toUpdate = spread(container.items.order, updates);
    const updatedSet = new Set(toUpdate);
    const toDelete = spread(container.items.order.filter((r) => !updatedSet.has(r)), deletes);
    this.upsertAll(container, toUpdate.map((r) => updated(stripSystem(r.doc), round)));
    for (const r of toDelete) {
      const plan = container.items.plan({ type: "Delete", id: r.id }, r.values);
      container.items.apply([plan], container.table.forKey(r.epk));
    }
    const from = insertFrom !== undefined ? insertFrom : 1000000 * round;
    this.upsertAll(container, seedItems({ count: inserts, start: from, paths: container.resource.partitionKey.paths }));
    return { updated: toUpdate.map((r) => r.id), deleted: toDelete.map((r) => r.id), inserted: inserts, total: container.items.count };
  }

  dump({ db, coll }) {
    const container = this.state.account.container(db, coll);
    const definition = {};
    for (const [k, v] of Object.entries(container.resource)) if (!k.startsWith("_")) definition[k] = v;
    const items = [...container.items.order]
      .map((r) => ({ key: JSON.stringify([r.id, pk.keyText(r.values)]), doc: canonical(stripSystem(r.doc)) }))
      .sort((a, b) => (a.key < b.key ? -1 : 1))
      .map((e) => e.doc);
    const offer = [...this.state.account.offers.offers.values()].find((o) => o.offerResourceId === container.rid);
    const scripts = {};
    for (const [kind, map] of Object.entries(container.scripts)) {
      scripts[kind] = [...map.values()].map((s) => canonical(stripSystem(s))).sort((a, b) => (a.id < b.id ? -1 : 1));
    }
    return canonical({ container: definition, throughput: offer ? offer.content : null, items, scripts });
  }

  reset() {
    this.state.account.databases.clear();
    this.state.account.offers.offers.clear();
    this.state.counters.reset();
    this.scheduled = [];
    this.faults = [];
    this.killers = [];
    this.onRangePages = [];
    this.onPositions = [];
    return { reset: true };
  }
}

function stripSystem(doc) {
  const out = {};
  for (const [k, v] of Object.entries(doc)) if (!SYSTEM.has(k)) out[k] = v;
  return out;
}

module.exports = { Control, canonical };
