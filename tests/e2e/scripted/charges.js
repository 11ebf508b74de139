"use strict";
// Request units: what each kind of answer costs, the per-second budget that answers 429 when
// it is spent, and the counters a test or benchmark reads to see what a run consumed.
const round = (n) => Math.round(n * 100) / 100;
const kb = (bytes) => bytes / 1024;

// Plausible charges, in the proportions the service shows: reads cost about 1 RU per KB,
// writes several RU, a key-only query a small fraction of reading the items.
const charge = {
  metadata: () => 1,
  pointRead: (bytes) => round(Math.max(1, kb(bytes))),
  write: (bytes) => round(5 + Math.max(1, kb(bytes))),
  remove: () => 5,
  feedPage: (bytes) => round(1 + kb(bytes)),
  projection: (items) => round(2 + 0.05 * items),
  count: (items) => round(2 + 0.01 * items),
  changeFeed: (bytes) => round(1 + kb(bytes)),
  notModified: () => 1,
  error: () => 1,
};

// A token bucket holding at most one second's worth of RU. A request is admitted while the
// bucket is above zero and its charge may take it below (the service lets one request
// overdraw); the next ones wait until it has refilled.
class RuBudget {
  constructor(perSecond, now = () => Date.now()) {
    this.perSecond = perSecond;
    this.now = now;
    this.tokens = perSecond;
    this.at = now();
  }

  get limited() {
    return this.perSecond > 0;
  }

  refill() {
    const t = this.now();
    this.tokens = Math.min(this.perSecond, this.tokens + ((t - this.at) * this.perSecond) / 1000);
    this.at = t;
    return this.tokens;
  }

  // Milliseconds until the bucket holds `wanted` RU (at most a full bucket): 0 when it does.
  waitFor(wanted) {
    if (!this.limited) return 0;
    const target = Math.min(wanted, this.perSecond);
    const missing = target - this.refill();
    return missing <= 0 ? 0 : Math.ceil((missing * 1000) / this.perSecond);
  }

  admits() {
    return !this.limited || this.refill() > 0;
  }

  // Whether a batch may spend `cost` now without going into debt: it may when the bucket holds
  // it, and also when the bucket is full (a batch larger than one second's budget must pass
  // some time, as the service lets it).
  affords(cost) {
    if (!this.limited) return true;
    const t = this.refill();
    return t >= cost || t >= this.perSecond;
  }

  spend(ru) {
    if (this.limited) {
      this.refill();
      this.tokens -= ru;
    }
  }
}

// Totals and a per-second history of what the server answered.
class Counters {
  constructor() {
    this.reset();
  }

  reset() {
    this.totals = { requests: 0, ru: 0, throttled: 0, itemsRead: 0, itemsWritten: 0, gone: 0, errors: 0 };
    this.seconds = new Map(); // unix second -> same fields
    this.since = Date.now();
    this.largestItemRequestHeader = 0; // bytes of request line and headers, item requests only
  }

  headerSeen(bytes) {
    if (bytes > this.largestItemRequestHeader) this.largestItemRequestHeader = bytes;
  }

  add(entry) {
    const second = Math.floor(Date.now() / 1000);
    if (!this.seconds.has(second)) {
      this.seconds.set(second, { requests: 0, ru: 0, throttled: 0, itemsRead: 0, itemsWritten: 0, gone: 0, errors: 0 });
      if (this.seconds.size > 600) this.seconds.delete(this.seconds.keys().next().value);
    }
    for (const bucket of [this.totals, this.seconds.get(second)]) {
      bucket.requests += 1;
      bucket.ru = round(bucket.ru + entry.ru);
      bucket.itemsRead += entry.itemsRead || 0;
      bucket.itemsWritten += entry.itemsWritten || 0;
      if (entry.status === 429 || entry.throttledInside) bucket.throttled += 1;
      if (entry.status === 410) bucket.gone += 1;
      if (entry.status >= 400 && entry.status !== 429 && entry.status !== 410) bucket.errors += 1;
    }
  }

  snapshot() {
    const perSecond = [...this.seconds.entries()].map(([second, v]) => ({ second, ...v }));
    return { since: new Date(this.since).toISOString(), ...this.totals, largestItemRequestHeader: this.largestItemRequestHeader, perSecond };
  }
}

module.exports = { charge, RuBudget, Counters };
