"use strict";
// The change feed's "all versions and deletes" mode, as accounts with continuous backup serve
// it: GET .../docs with `A-IM: Full-Fidelity Feed` and
// `x-ms-cosmos-changefeed-wire-format-version: 2021-09-15`, per partition key range. Every
// create, replace and delete after the start, in LSN order, each as
//   {"current": item, "previous": item, "metadata": {"crts", "lsn", "operationType",
//    "previousImageLSN", "timeToLiveExpired", "id", "partitionKey"}}
// (a delete has no "current" and names its item's id and partition key in the metadata; the
// replaced or deleted version, "previous", comes only with the `previousImages` option). It
// starts only from now (If-None-Match: *) or from an etag within the retention window; from
// the beginning, from a time, or from an etag older than the window it is refused (400), and
// so is every request on an account without the mode (the `allVersionsAndDeletes` option).
const { BadRequest, UNDEFINED } = require("./partition-key");

const WIRE_FORMAT_VERSION = "2021-09-15";

function isAllVersionsRequest(headers) {
  return String(headers["a-im"] || "").toLowerCase() === "full-fidelity feed";
}

// The LSN the read starts after; throws the service's 400s.
function startOf(options, headers, range) {
  if (!options.allVersionsAndDeletes) {
    throw new BadRequest("The change feed mode AllVersionsAndDeletes (A-IM: Full-Fidelity Feed) is not enabled on this account: it needs continuous backup.");
  }
  const version = headers["x-ms-cosmos-changefeed-wire-format-version"];
  if (version !== WIRE_FORMAT_VERSION) {
    throw new BadRequest(`The AllVersionsAndDeletes change feed needs x-ms-cosmos-changefeed-wire-format-version: ${WIRE_FORMAT_VERSION}${version === undefined ? "" : `, not ${version}`}.`);
  }
  if (headers["if-modified-since"] !== undefined) {
    throw new BadRequest("The AllVersionsAndDeletes change feed cannot start from a point in time: start from now or from a continuation.");
  }
  const given = headers["if-none-match"];
  if (given === undefined || given === "") {
    throw new BadRequest("The AllVersionsAndDeletes change feed cannot start from the beginning: start from now or from a continuation.");
  }
  if (given.trim() === "*") return range.lsn;
  const m = /^\s*(?:W\/)?"?(\d+)"?\s*$/.exec(given);
  if (!m) throw new BadRequest(`If-None-Match ${given} is not an etag of the change feed.`);
  const since = Number(m[1]);
  if (since < (range.historyFloor || 0)) {
    throw new BadRequest(`The continuation ${given} of partition key range ${range.id} is older than the account's change feed retention window.`);
  }
  return since;
}

function withLsn(text, lsn) {
  return `${text.slice(0, -1)},"_lsn":${lsn}}`;
}

// One change as the feed writes it; `paths` are the container's partition key paths ("/a/b"):
// a deleted item's key values are named by their property ("a/b"), {} where it had none.
function changeText(entry, paths, previousImages) {
  const metadata = {
    crts: entry.crts, lsn: entry.lsn, operationType: entry.operationType, previousImageLSN: entry.previousLsn, timeToLiveExpired: false,
  };
  if (entry.operationType === "delete") {
    metadata.id = entry.id;
    metadata.partitionKey = Object.fromEntries(paths.map((p, i) => [p.replace(/^\//, ""), entry.values[i] === UNDEFINED ? {} : entry.values[i]]));
  }
  const parts = [];
  if (entry.current !== null) parts.push(`"current":${withLsn(entry.current, entry.lsn)}`);
  if (previousImages && entry.previous !== null) parts.push(`"previous":${entry.previous}`);
  parts.push(`"metadata":${JSON.stringify(metadata)}`);
  return `{${parts.join(",")}}`;
}

// The changes of `history` in [min, max) after `since`, as feed.changes pages them.
function changesIn(history, span, since) {
  return history.filter((e) => e.lsn > since && e.epk >= span.min && (span.max === "FF" || e.epk < span.max));
}

// Forgets every change so far: positions taken before now are outside the window.
function expire(container) {
  for (const range of container.table.ranges) range.historyFloor = range.lsn;
  container.items.history = [];
}

module.exports = { isAllVersionsRequest, startOf, changeText, changesIn, expire, WIRE_FORMAT_VERSION };
