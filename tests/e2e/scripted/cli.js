#!/usr/bin/env node
"use strict";
// Command line for the scripted server's control endpoints, for e2e scripts. The server is
// COSMOS_ENDPOINT. Arguments are --name value pairs; values that read as JSON are sent as JSON.
//   cli.js seed --db d --coll c --count 1000 [--partitionKey '{"paths":["/a","/b"],"kind":"MultiHash","version":2}']
//   cli.js mutate --db d --coll c --updates 100 --deletes 50 --inserts 20 [--round 2]
//   cli.js split --db d --coll c --range 0 [--afterRequests 5]
//   cli.js kill --pid 1234 --items 4000 [--count read|written|any]
//   cli.js stats | ranges --db d --coll c | dump --db d --coll c
//   cli.js compare --db d --coll c --db2 e [--coll2 c]    exit 1 when they differ
const { control } = require("./client");

function parseArgs(argv) {
  const args = {};
  for (let i = 0; i < argv.length; i += 2) {
    if (!argv[i].startsWith("--") || argv[i + 1] === undefined) throw new Error(`expected --name value, got ${argv[i]}`);
    let value = argv[i + 1];
    try {
      value = JSON.parse(value);
    } catch (err) {
      // a plain text
    }
    args[argv[i].slice(2)] = value;
  }
  return args;
}

// The first difference between two dumps, or null; container ids may differ.
function difference(a, b) {
  const definition = (d) => JSON.stringify({ ...d.container, id: undefined });
  if (definition(a) !== definition(b)) return `container definitions differ: ${definition(a)} vs ${definition(b)}`;
  if (JSON.stringify(a.throughput) !== JSON.stringify(b.throughput)) return `throughput differs: ${JSON.stringify(a.throughput)} vs ${JSON.stringify(b.throughput)}`;
  if (JSON.stringify(a.scripts) !== JSON.stringify(b.scripts)) return "scripts differ";
  const bItems = new Map(b.items.map((item) => [JSON.stringify(item), item]));
  for (const item of a.items) if (!bItems.has(JSON.stringify(item))) return `only in the first (or changed): ${JSON.stringify(item).slice(0, 300)}`;
  if (a.items.length !== b.items.length) return `${a.items.length} items vs ${b.items.length}`;
  return null;
}

async function main() {
  const [action, ...rest] = process.argv.slice(2);
  const endpoint = process.env.COSMOS_ENDPOINT;
  if (!action || !endpoint) throw new Error("usage: COSMOS_ENDPOINT=… cli.js ACTION [--name value…]");
  const args = parseArgs(rest);
  if (action === "compare") {
    const a = await control(endpoint, "dump", { db: args.db, coll: args.coll });
    const b = await control(endpoint, "dump", { db: args.db2, coll: args.coll2 || args.coll });
    const diff = difference(a, b);
    process.stdout.write(diff ? `DIFFERENT: ${diff}\n` : `same: ${a.items.length} items\n`);
    return diff ? 1 : 0;
  }
  const readOnly = ["stats", "ranges", "dump"].includes(action) && Object.keys(args).length === 0;
  process.stdout.write(`${JSON.stringify(await control(endpoint, action, readOnly ? undefined : args), null, action === "dump" ? 0 : 2)}\n`);
  return 0;
}

main().then((code) => process.exit(code), (err) => {
  process.stderr.write(`${err.message}\n`);
  process.exit(2);
});
