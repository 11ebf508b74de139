"use strict";
// Reading a container page by page. A read covers a key interval: a range's, narrowed by the
// x-ms-start-epk/x-ms-end-epk headers and by the interval its continuation token was issued
// for. The token is opaque to clients and holds that interval and the last key served, so a
// range that split continues in each child exactly where the parent stopped, and a merged
// range continues each parent's token over that parent's part only.
const { BadRequest } = require("./partition-key");

const DEFAULT_PAGE_ITEMS = 100;
const MAX_PAGE_BYTES = 4 * 1024 * 1024;

function encodeToken(state) {
  return `+RID:~${Buffer.from(JSON.stringify(state), "utf8").toString("base64")}`;
}

function decodeToken(text) {
  const m = /^\+RID:~([A-Za-z0-9+/=]+)$/.exec(text || "");
  if (m) {
    try {
      const t = JSON.parse(Buffer.from(m[1], "base64").toString("utf8"));
      if (typeof t.min === "string" && typeof t.max === "string" && typeof t.epk === "string" && typeof t.id === "string") return t;
    } catch (err) {
      // falls through to the refusal below
    }
  }
  throw new BadRequest("The continuation token is malformed.");
}

function pageSize(header) {
  if (header === undefined || header === "") return DEFAULT_PAGE_ITEMS;
  const n = Number(header);
  if (!Number.isInteger(n) || n === 0 || n < -1) throw new BadRequest(`Invalid value ${header} for x-ms-max-item-count.`);
  return n === -1 ? Infinity : n;
}

// The interval a read covers: [min, max) of the range, narrowed by the request's epk headers
// and by its token's interval. A token that does not overlap the range is refused. The epk
// headers count only with x-ms-read-key-type EffectivePartitionKeyRange (else 400, as the
// gateway answers); they are read as `table` normalizes boundaries, and must not be empty.
function interval(range, headers, token, table) {
  let min = range ? range.minInclusive : "";
  let max = range ? range.maxExclusive : "FF";
  const narrow = (lo, hi) => {
    if (lo > min) min = lo;
    if (hi < max) max = hi;
  };
  if (headers["x-ms-start-epk"] !== undefined || headers["x-ms-end-epk"] !== undefined) {
    if (headers["x-ms-read-key-type"] !== "EffectivePartitionKeyRange") {
      throw new BadRequest("x-ms-start-epk and x-ms-end-epk need x-ms-read-key-type: EffectivePartitionKeyRange.");
    }
    const start = table.normalize(headers["x-ms-start-epk"] || "");
    const end = table.normalize(headers["x-ms-end-epk"] || "FF");
    if (!(start < end)) throw new BadRequest(`The effective partition key range [${start}, ${end}) is empty.`);
    narrow(start, end);
  }
  if (token) {
    narrow(token.min, token.max);
    if (!(min < max)) throw new BadRequest("The continuation token does not belong to this partition key range.");
  }
  return { min, max };
}

// One page of the records `source(min, max, after)` yields; `take` is called per record and
// gives the record's size in the answer or null to skip it (for example, not yet visible).
function page(source, span, token, size, take) {
  const records = [];
  let bytes = 0;
  let last = null;
  for (const r of source(span.min, span.max, token)) {
    if (records.length >= size || (records.length > 0 && bytes >= MAX_PAGE_BYTES)) {
      return { records, bytes, continuation: encodeToken({ ...span, epk: last.epk, id: last.id }) };
    }
    last = r;
    const b = take(r);
    if (b === null) continue;
    bytes += b;
    records.push(r);
  }
  return { records, bytes, continuation: undefined };
}

// The latest version of each record in the span changed after `since` (an LSN), in LSN order.
// A page never cuts a group of records that share one LSN (a batch), so that the etag it
// returns (the last LSN included) is a sound place to go on from.
function changes(records, since, size) {
  const changed = records.filter((r) => r.lsn > since).sort((a, b) => a.lsn - b.lsn);
  let end = Math.min(changed.length, size);
  while (end > 0 && end < changed.length && changed[end].lsn === changed[end - 1].lsn) end += 1;
  return { records: changed.slice(0, end), complete: end === changed.length };
}

module.exports = { encodeToken, decodeToken, pageSize, interval, page, changes };
