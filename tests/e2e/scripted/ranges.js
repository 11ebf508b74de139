"use strict";
// A container's partition key ranges: intervals [minInclusive, maxExclusive) of effective
// keys that together cover "" to "FF". A split replaces a range by two children and a merge
// replaces two neighbours by one; the replaced ids are remembered, so that a request naming
// one can be answered 410 with the service's substatus: 1002 once a split or a merge has
// completed (1007 and 1008, "still completing", are scripted by the control endpoints), 1000
// for a range id of an earlier container of the same name (deleted and re-created).
//
// Each range numbers its writes with its own LSN; children continue their parent's sequence
// (a merge continues the larger one), so a position taken on a parent stays valid below it.
const { BadRequest } = require("./partition-key");

const GONE = 1002;
const NAME_STALE = 1000;
const KEY_SPACE = 1n << 126n; // every effective key's first 16 bytes lie below 0x40…
const FULL_MIN = "";
const FULL_MAX = "FF";

function hex32(n) {
  return n.toString(16).toUpperCase().padStart(32, "0");
}

function numberOf(boundary) {
  if (boundary === FULL_MIN) return 0n;
  if (boundary === FULL_MAX) return KEY_SPACE;
  return BigInt(`0x${boundary.slice(0, 32).padEnd(32, "0")}`);
}

class Gone extends Error {
  constructor(rangeId, substatus, why = "") {
    super(`The partition key range ${rangeId} is gone${why}.`);
    this.status = 410;
    this.code = "Gone";
    this.substatus = substatus;
  }
}

class RangeTable {
  // `keyLength`: hex digits of an item's effective key (32 per hierarchical key path), the
  // length every boundary is kept at; `earlier`: the table of a deleted container of the same
  // name, whose ids this one never reuses and answers 410/1000 for.
  constructor(count, rid, keyLength = 32, earlier = null) {
    if (!Number.isInteger(count) || count < 1) throw new Error("A container needs at least one range.");
    this.rid = rid;
    this.keyLength = keyLength;
    this.nextId = earlier ? earlier.nextId : 0;
    this.foreign = new Set(earlier ? [...earlier.ranges.map((r) => r.id), ...earlier.retired.keys(), ...earlier.foreign] : []);
    this.retired = new Map(); // id -> { substatus, range }
    this.ranges = [];
    const at = (i) => hex32((KEY_SPACE * BigInt(i)) / BigInt(count)).padEnd(keyLength, "0");
    for (let i = 0; i < count; i += 1) {
      const min = i === 0 ? FULL_MIN : at(i);
      const max = i === count - 1 ? FULL_MAX : at(i + 1);
      this.ranges.push(this.make(min, max, [], 0));
    }
  }

  make(min, max, parents, lsn) {
    const id = String(this.nextId++);
    return { id, minInclusive: min, maxExclusive: max, parents, lsn, ts: Math.floor(Date.now() / 1000) };
  }

  // The live range with this id; throws Gone for a replaced one, BadRequest for an unknown one.
  byId(id) {
    const live = this.ranges.find((r) => r.id === id);
    if (live) return live;
    const old = this.retired.get(id);
    if (old) throw new Gone(id, old.substatus, old.why);
    if (this.foreign.has(id)) throw new Gone(id, NAME_STALE, " (it belonged to a deleted container of the same name)");
    throw new BadRequest(`Partition key range ${id} does not exist.`);
  }

  forKey(epk) {
    return this.ranges.find((r) => epk >= r.minInclusive && (r.maxExclusive === FULL_MAX || epk < r.maxExclusive));
  }

  // Whether `ancestorId` is this range or one it came from.
  descendsFrom(range, ancestorId) {
    return range.id === ancestorId || range.parents.includes(ancestorId);
  }

  // Splits at `boundary`, which must lie strictly inside the range.
  split(id, boundary) {
    const at = this.ranges.findIndex((r) => r.id === id);
    if (at < 0) throw new BadRequest(`Partition key range ${id} is not live.`);
    const old = this.ranges[at];
    if (!(boundary > old.minInclusive) || (old.maxExclusive !== FULL_MAX && !(boundary < old.maxExclusive))) {
      throw new BadRequest(`${boundary} is not inside range ${id}.`);
    }
    const lineage = [...old.parents, old.id];
    const children = [this.make(old.minInclusive, boundary, lineage, old.lsn), this.make(boundary, old.maxExclusive, lineage, old.lsn)];
    for (const child of children) child.historyFloor = old.historyFloor || 0;
    this.ranges.splice(at, 1, ...children);
    this.retired.set(id, { substatus: GONE, why: " (split)", range: old });
    return children;
  }

  // Merges a range with its right-hand neighbour.
  merge(id) {
    const at = this.ranges.findIndex((r) => r.id === id);
    if (at < 0 || at === this.ranges.length - 1) throw new BadRequest(`Partition key range ${id} is not live or has no right-hand neighbour.`);
    const [left, right] = this.ranges.slice(at, at + 2);
    const lineage = [...new Set([...left.parents, left.id, ...right.parents, right.id])];
    const child = this.make(left.minInclusive, right.maxExclusive, lineage, Math.max(left.lsn, right.lsn));
    child.historyFloor = Math.max(left.historyFloor || 0, right.historyFloor || 0);
    this.ranges.splice(at, 2, child);
    this.retired.set(left.id, { substatus: GONE, why: " (merged)", range: left });
    this.retired.set(right.id, { substatus: GONE, why: " (merged)", range: right });
    return child;
  }

  // The middle of a range's key interval, for a split of a range without two distinct keys.
  midpoint(range) {
    return hex32((numberOf(range.minInclusive) + numberOf(range.maxExclusive)) / 2n).padEnd(this.keyLength, "0");
  }

  // Boundaries as a request may write them: hierarchical keys compare length-aware (a
  // shorter boundary reads as padded with zeros), so they are kept at the key's full length.
  normalize(boundary) {
    if (boundary === FULL_MIN || boundary === FULL_MAX) return boundary;
    return boundary.length < this.keyLength ? boundary.padEnd(this.keyLength, "0") : boundary;
  }

  // `form` writes the boundaries as the service may list them: "padded" (the default, the
  // key's full length) or "trimmed" (trailing zero bytes left out).
  describe(range, containerSelf, form = "padded") {
    const write = (b) => (form === "trimmed" && b !== FULL_MIN && b !== FULL_MAX ? b.replace(/(00)+$/, "") || "00" : b);
    return {
      id: range.id,
      _rid: `${this.rid}${range.id}`,
      _self: `${containerSelf}pkranges/${range.id}/`,
      _etag: `"${range.id}-${range.parents.length}"`,
      _ts: range.ts,
      minInclusive: write(range.minInclusive),
      maxExclusive: write(range.maxExclusive),
      ridPrefix: Number(range.id),
      throughputFraction: 1 / this.ranges.length,
      status: "online",
      parents: range.parents,
    };
  }
}

// Whether key `epk` lies in [min, max).
function inInterval(epk, min, max) {
  return epk >= min && (max === FULL_MAX || epk < max);
}

module.exports = { RangeTable, Gone, inInterval, GONE, NAME_STALE, FULL_MIN, FULL_MAX };
