#!/usr/bin/env node
"use strict";
// A raw REST reader written for the benchmark: reads every item of a container straight from
// the read feed, range by range, with nothing else to do (no files, no compression) - the
// practical limit of what the server gives one client.
//   raw-reader.js sequential|parallel|subranges DB CONTAINER PAGE_SIZE [READERS]
// sequential reads one range after another; parallel reads all ranges at once; subranges cuts
// each range into READERS/ranges parts of its hash version 2 keys (below "40") and reads all
// parts at once with effective-key bounds. Keeps one HTTPS connection per reader alive. Prints one JSON line: {"mode","items","seconds","itemsPerSecond"}.
const https = require("https");
const http = require("http");
const path = require("path");
const { resourceOf, sign } = require(path.join(__dirname, "..", "..", "tests", "e2e", "fixture", "signature"));

const endpoint = process.env.COSMOS_ENDPOINT;
const key = process.env.COSMOS_KEY;

function get(agent, urlPath, headers) {
  const url = new URL(urlPath, endpoint);
  const date = new Date().toUTCString();
  const { type, link } = resourceOf(url.pathname);
  const all = {
    "x-ms-date": date,
    "x-ms-version": "2020-07-15",
    authorization: encodeURIComponent(`type=master&ver=1.0&sig=${sign(key, "GET", type, link, date)}`),
    ...headers,
  };
  const lib = url.protocol === "https:" ? https : http;
  return new Promise((resolve, reject) => {
    const req = lib.request(url, { method: "GET", headers: all, agent, rejectUnauthorized: false }, (res) => {
      const chunks = [];
      res.on("data", (c) => chunks.push(c));
      res.on("end", () => {
        if (res.statusCode !== 200) return reject(new Error(`GET ${urlPath} answered ${res.statusCode}`));
        resolve({ headers: res.headers, body: JSON.parse(Buffer.concat(chunks).toString("utf8")) });
      });
    });
    req.on("error", reject);
    req.end();
  });
}

async function readRange(base, range, pageSize, bounds) {
  const agent = new (endpoint.startsWith("https:") ? https : http).Agent({ keepAlive: true, rejectUnauthorized: false });
  let items = 0;
  let continuation;
  do {
    const headers = { "x-ms-max-item-count": String(pageSize), "x-ms-documentdb-partitionkeyrangeid": range };
    if (continuation) headers["x-ms-continuation"] = continuation;
    if (bounds) Object.assign(headers, { "x-ms-read-key-type": "EffectivePartitionKeyRange", "x-ms-start-epk": bounds[0], "x-ms-end-epk": bounds[1] });
    const { headers: answer, body } = await get(agent, `${base}/docs`, headers);
    items += body.Documents.length;
    continuation = answer["x-ms-continuation"];
  } while (continuation);
  agent.destroy();
  return items;
}

async function main() {
  const [mode, db, coll, pageSize, readers = "8"] = process.argv.slice(2);
  if (!["sequential", "parallel", "subranges"].includes(mode)) throw new Error("usage: raw-reader.js sequential|parallel|subranges DB CONTAINER PAGE_SIZE [READERS]");
  const started = performance.now();
  const base = `/dbs/${encodeURIComponent(db)}/colls/${encodeURIComponent(coll)}`;
  const { body } = await get(undefined, `${base}/pkranges`, {});
  const ranges = body.PartitionKeyRanges.map((r) => r.id);
  let items = 0;
  if (mode === "subranges") {
    const parts = [];
    const share = Math.max(1, Math.floor(Number(readers) / ranges.length));
    const value = (hex, end) => (hex === "FF" ? 1n << 126n : hex === "" ? 0n : BigInt(`0x${hex.padEnd(32, "0").slice(0, 32)}`));
    const text = (n) => n.toString(16).toUpperCase().padStart(32, "0");
    for (const r of body.PartitionKeyRanges) {
      const lo = value(r.minInclusive), hi = value(r.maxExclusive);
      for (let k = 0; k < share; k += 1) {
        const from = k === 0 ? r.minInclusive : text(lo + ((hi - lo) * BigInt(k)) / BigInt(share));
        const to = k === share - 1 ? r.maxExclusive : text(lo + ((hi - lo) * BigInt(k + 1)) / BigInt(share));
        parts.push([r.id, from, to]);
      }
    }
    items = (await Promise.all(parts.map(([id, from, to]) => readRange(base, id, Number(pageSize), [from, to])))).reduce((a, b) => a + b, 0);
  } else if (mode === "sequential") {
    for (const r of ranges) items += await readRange(base, r, Number(pageSize));
  } else {
    items = (await Promise.all(ranges.map((r) => readRange(base, r, Number(pageSize))))).reduce((a, b) => a + b, 0);
  }
  const seconds = (performance.now() - started) / 1000;
  process.stdout.write(`${JSON.stringify({ mode, ranges: ranges.length, items, seconds, itemsPerSecond: items / seconds })}\n`);
}

main().catch((err) => {
  process.stderr.write(`raw-reader failed: ${err.message}\n`);
  process.exit(1);
});
