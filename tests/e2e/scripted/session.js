"use strict";
// Session tokens and the stale reads of a session-consistency account. A write answers
// "<range id>:-1#<range LSN>" on a single-region account; with `regions` > 0 the account is a
// multi-region one and the token a vector, "<range id>:<version>#<global LSN>#1=<LSN>#2=...",
// its LSNs as long-lived accounts show them (ten digits), so that its size is the service's.
// With lagging reads switched on, a read sees an item created in the last `lagMs` milliseconds
// only when it sends a session token for the item's range (or an ancestor of it) at least as
// new as the item's creation; otherwise the count comes up short.
const { BadRequest } = require("./partition-key");

const MULTI_REGION_LSN_BASE = 1000000000;

function tokenFor(range, regions = 0) {
  if (!regions) return `${range.id}:-1#${range.lsn}`;
  const global = MULTI_REGION_LSN_BASE + range.lsn;
  const local = Array.from({ length: regions }, (_, r) => `#${r + 1}=${Math.max(0, global - r)}`).join("");
  return `${range.id}:${regions}#${global}${local}`;
}

// "0:-1#12,3:-1#40" -> [{ id: "0", lsn: 12 }, { id: "3", lsn: 40 }]; unreadable parts are ignored.
function parseTokens(header) {
  const tokens = [];
  for (const part of String(header || "").split(",")) {
    const m = /^\s*([^:\s]+):(-?\d+)#(\d+)/.exec(part) || /^\s*([^:\s]+):()(\d+)\s*$/.exec(part);
    if (!m) continue;
    const lsn = Number(m[3]);
    tokens.push({ id: m[1], lsn: Number(m[2]) > 0 ? lsn - MULTI_REGION_LSN_BASE : lsn });
  }
  return tokens;
}

// The account is a session-consistency account: a request may ask for a weaker level (and
// then gets no read-your-writes), not for a stronger one.
const LEVELS = ["Eventual", "ConsistentPrefix", "Session", "BoundedStaleness", "Strong"];
const ACCOUNT_LEVEL = "Session";

function requestedLevel(headers) {
  const level = headers["x-ms-consistency-level"];
  if (level === undefined) return ACCOUNT_LEVEL;
  if (!LEVELS.includes(level) || LEVELS.indexOf(level) > LEVELS.indexOf(ACCOUNT_LEVEL)) {
    throw new BadRequest(`Invalid Consistency Level ${level}: the account's default is ${ACCOUNT_LEVEL}, and a request may only weaken it.`);
  }
  return level;
}

// A predicate telling whether a record is visible to a read with these headers.
function visibility(options, table, headers, at = Date.now()) {
  const level = requestedLevel(headers);
  if (!options.laggingReads) return () => true;
  const cutoff = at - options.lagMs;
  const tokens = level === ACCOUNT_LEVEL ? parseTokens(headers["x-ms-session-token"]) : [];
  return (record) => {
    if (record.createdAt <= cutoff) return true;
    const range = table.forKey(record.epk);
    return tokens.some((t) => t.lsn >= record.createdLsn && table.descendsFrom(range, t.id));
  };
}

module.exports = { tokenFor, parseTokens, visibility, ACCOUNT_LEVEL };
