"use strict";
// A container's items, kept in effective-key order so that a range is one slice of the
// order. Writes are planned first and applied afterwards, so a transactional batch can check
// every operation before any takes effect. Each applied write takes the next LSN of the item's
// range (one LSN for a whole batch, as the service does) and is kept in `history`, every
// version and deletion, for the change feed's "all versions and deletes" mode.
const crypto = require("crypto");
const pk = require("./partition-key");

const { BadRequest } = pk;
const MAX_ITEM_BYTES = 2 * 1024 * 1024;
const MAX_ID_BYTES = 1023;
const SYSTEM = ["_rid", "_self", "_etag", "_attachments", "_ts", "_lsn"];
const FORBIDDEN_ID = /[/\\?#]/;

function compareKeys(a, b) {
  if (a.epk !== b.epk) return a.epk < b.epk ? -1 : 1;
  return a.id < b.id ? -1 : a.id > b.id ? 1 : 0;
}

class ItemStore {
  constructor(container) {
    this.container = container; // { paths, table, self, rid }
    this.byKey = new Map(); // pk text + id -> record
    this.ordered = []; // records sorted by (epk, id) once `sorted` says so
    this.sorted = true;
    this.nextRid = 1;
    this.history = []; // { lsn, operationType, epk, id, values, current, previous, previousLsn, crts }
  }

  // New items are appended and sorted in when next needed: a restore then costs one sort
  // rather than an insertion into the middle per item.
  get order() {
    if (!this.sorted) {
      this.ordered.sort(compareKeys);
      this.sorted = true;
    }
    return this.ordered;
  }

  get count() {
    return this.ordered.length;
  }

  // First position whose record is at or after `key` ({epk, id}); strictly after when `after`.
  position(key, after = false) {
    const { order } = this;
    let lo = 0;
    let hi = order.length;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      const c = compareKeys(order[mid], key);
      if (c < 0 || (after && c === 0)) lo = mid + 1;
      else hi = mid;
    }
    return lo;
  }

  // The records in [min, max) whose key comes after `from` (if given), in order.
  *slice(min, max, from) {
    let at = from ? Math.max(this.position(from, true), this.position({ epk: min, id: "" })) : this.position({ epk: min, id: "" });
    for (; at < this.order.length; at += 1) {
      const r = this.order[at];
      if (r.epk >= max) return;
      yield r;
    }
  }

  keyOf(values, id) {
    return `${pk.keyText(values)}\u0000${id}`;
  }

  // The header's values for a point operation, checked against the definition.
  headerValues(header) {
    return pk.parseHeader(this.container.paths, header, this.container.systemKey);
  }

  checkBody(body, headerValues) {
    if (body === null || typeof body !== "object" || Array.isArray(body)) throw new BadRequest("The item must be a JSON object.");
    if (typeof body.id !== "string" || body.id.length === 0) throw new BadRequest("The input content is invalid because the required properties - 'id; ' - are missing");
    if (Buffer.byteLength(body.id) > MAX_ID_BYTES || FORBIDDEN_ID.test(body.id)) throw new BadRequest(`The id ${JSON.stringify(body.id)} contains an invalid character or is too long.`);
    const values = pk.valuesOf(this.container.paths, body);
    if (!pk.sameValues(values, headerValues)) {
      throw new BadRequest("PartitionKey extracted from document doesn't match the one specified in the header.");
    }
    const doc = {};
    for (const [k, v] of Object.entries(body)) if (!SYSTEM.includes(k)) doc[k] = v;
    const text = JSON.stringify(doc);
    if (Buffer.byteLength(text) > MAX_ITEM_BYTES) throw new BadRequest("Request size is too large", 413, "RequestEntityTooLarge");
    return { doc, values, text };
  }

  // Looks an item up through a batch's pending changes.
  current(key, pending) {
    return pending && pending.has(key) ? pending.get(key) : this.byKey.get(key) || null;
  }

  // Plans one operation: { status, key, values, doc (to write) | remove | read }. Throws an
  // error with the service's status when the operation cannot succeed.
  plan(op, headerValues, pending) {
    const ifMatch = (existing) => {
      if (op.ifMatch && existing && existing.doc._etag !== op.ifMatch) {
        throw new BadRequest("One of the specified pre-condition is not met", 412, "PreconditionFailed");
      }
    };
    if (op.type === "Create" || op.type === "Upsert" || op.type === "Replace") {
      const { doc, values, text } = this.checkBody(op.body, headerValues);
      if (op.type === "Replace" && op.id !== undefined && op.id !== doc.id) throw new BadRequest("The id in the body must match the one in the path.");
      const key = this.keyOf(values, doc.id);
      const existing = this.current(key, pending);
      if (op.type === "Create" && existing) throw new BadRequest("Entity with the specified id already exists in the system.", 409, "Conflict");
      if (op.type === "Replace" && !existing) throw new BadRequest("Entity with the specified id does not exist in the system.", 404, "NotFound");
      ifMatch(existing);
      return { status: existing ? 200 : 201, key, values, doc, text };
    }
    if (op.type === "Read" || op.type === "Delete") {
      const key = this.keyOf(headerValues, op.id);
      const existing = this.current(key, pending);
      if (!existing) throw new BadRequest("Entity with the specified id does not exist in the system.", 404, "NotFound");
      ifMatch(existing);
      return op.type === "Read" ? { status: 200, key, read: existing } : { status: 204, key, remove: existing };
    }
    throw new BadRequest(`Operation type '${op.type}' is not supported in Batch.`);
  }

  // Applies planned writes under one LSN of `range`; returns the records written.
  apply(plans, range, now = Date.now()) {
    const writes = plans.filter((p) => p.doc || p.remove);
    if (writes.length === 0) return [];
    range.lsn += 1;
    return writes.map((p) => (p.remove ? this.remove(p.remove, range, now) : this.put(p, range, now)));
  }

  put(p, range, now) {
    const old = this.byKey.get(p.key);
    const { self } = this.container;
    const rid = old ? old.doc._rid : `${this.container.rid}${(this.nextRid++).toString(16).padStart(8, "0")}`;
    const system = { _rid: rid, _self: `${self}docs/${rid}/`, _etag: `"${crypto.randomUUID()}"`, _attachments: "attachments/", _ts: Math.floor(now / 1000) };
    const doc = { ...p.doc, ...system };
    const text = `${p.text.slice(0, -1)},${JSON.stringify(system).slice(1)}`;
    const record = {
      id: doc.id, values: p.values, epk: pk.effectiveKey(p.values), doc, text, bytes: Buffer.byteLength(text),
      lsn: range.lsn, createdAt: old ? old.createdAt : now, createdLsn: old ? old.createdLsn : range.lsn,
    };
    if (old) {
      this.order[this.position(old)] = record;
    } else {
      this.ordered.push(record);
      const n = this.ordered.length;
      if (n > 1 && compareKeys(this.ordered[n - 2], record) > 0) this.sorted = false;
    }
    this.byKey.set(p.key, record);
    this.remember(old ? "replace" : "create", record, old, now);
    return record;
  }

  remove(record, range, now = Date.now()) {
    this.order.splice(this.position(record), 1);
    this.byKey.delete(this.keyOf(record.values, record.id));
    this.remember("delete", { ...record, lsn: range ? range.lsn : record.lsn }, record, now);
    return record;
  }

  remember(operationType, record, previous, now) {
    this.history.push({
      lsn: record.lsn, operationType, epk: record.epk, id: record.id, values: record.values,
      current: operationType === "delete" ? null : record.text, previous: previous ? previous.text : null,
      previousLsn: previous ? previous.lsn : 0, crts: Math.floor(now / 1000),
    });
  }
}

module.exports = { ItemStore, MAX_ITEM_BYTES, compareKeys };
