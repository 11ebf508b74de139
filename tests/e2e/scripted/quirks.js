"use strict";
// Ways of the live service that a client must handle and that are off here unless asked for:
// an account with partition merge enabled refuses clients that do not declare merge support,
// and a session read may meet a replica that has not yet seen the session's writes.
const isTrue = (headers, name) => String(headers[name] || "").toLowerCase() === "true";

// A client declares merge support with bit 0 (PartitionMerge) of
// x-ms-cosmos-sdk-supportedcapabilities, a decimal bitmask.
function declaresMerge(headers) {
  const text = String(headers["x-ms-cosmos-sdk-supportedcapabilities"] || "");
  return /^\d+$/.test(text) && (BigInt(text) & 1n) === 1n;
}

// The answer that refuses a signed request before it is served, or null.
function refusal(options, state, req) {
  if (options.mergeEnabled && !declaresMerge(req.headers)) {
    return {
      status: 400,
      body: { code: "BadRequest", message: "Partition merge is enabled on this account: the client must declare PartitionMerge in x-ms-cosmos-sdk-supportedcapabilities." },
      ru: 0,
    };
  }
  return null;
}

// With `sessionMissEvery` N, every N-th read of items that carries a session token answers
// 404/1002 ("read session not available"), as a lagging replica does.
function sessionMiss(options, state, req, segments) {
  if (!(options.sessionMissEvery > 0) || segments[4] !== "docs" || !req.headers["x-ms-session-token"]) return null;
  const read = req.method === "GET" || (req.method === "POST" && isTrue(req.headers, "x-ms-documentdb-isquery"));
  if (!read) return null;
  state.sessionReads = (state.sessionReads || 0) + 1;
  if (state.sessionReads % options.sessionMissEvery !== 0) return null;
  return {
    status: 404,
    body: { code: "NotFound", message: "The read session is not available for the input session token." },
    headers: { "x-ms-substatus": "1002" },
    ru: 0,
  };
}

module.exports = { refusal, sessionMiss, declaresMerge };
