#!/usr/bin/env node
"use strict";
// A raw REST reader written for the benchmark: reads every item of a container straight from
// the read feed, range by range, with nothing else to do (no files, no compression) - the
// practical limit of what the server gives one client.
//   raw-reader.js sequential|parallel DB CONTAINER PAGE_SIZE
// sequential reads one range after another; parallel reads all ranges at once. Keeps one
// HTTPS connection per range alive. Prints one JSON line: {"mode","items","seconds","itemsPerSecond"}.
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

async function readRange(base, range, pageSize) {
  const agent = new (endpoint.startsWith("https:") ? https : http).Agent({ keepAlive: true, rejectUnauthorized: false });
  let items = 0;
  let continuation;
  do {
    const headers = { "x-ms-max-item-count": String(pageSize), "x-ms-documentdb-partitionkeyrangeid": range };
    if (continuation) headers["x-ms-continuation"] = continuation;
    const { headers: answer, body } = await get(agent, `${base}/docs`, headers);
    items += body.Documents.length;
    continuation = answer["x-ms-continuation"];
  } while (continuation);
  agent.destroy();
  return items;
}

async function main() {
  const [mode, db, coll, pageSize] = process.argv.slice(2);
  if (!["sequential", "parallel"].includes(mode)) throw new Error("usage: raw-reader.js sequential|parallel DB CONTAINER PAGE_SIZE");
  const started = performance.now();
  const base = `/dbs/${encodeURIComponent(db)}/colls/${encodeURIComponent(coll)}`;
  const { body } = await get(undefined, `${base}/pkranges`, {});
  const ranges = body.PartitionKeyRanges.map((r) => r.id);
  let items = 0;
  if (mode === "sequential") {
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
