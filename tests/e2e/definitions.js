#!/usr/bin/env node
"use strict";
// A container with every property a container may have (hierarchical key, unique keys,
// conflict resolution, computed properties, analytical TTL, default TTL, composite indexes,
// and a policy the tool knows nothing of), seeded and compared with the official SDK.
//   seed ENDPOINT DB CONTAINER LAYOUT   LAYOUT: shared (1000 RU/s on the database), own-autoscale
//                                       (4000 on the container), none (serverless)
//   count ENDPOINT DB CONTAINER          prints the number of items
//   compare ENDPOINT DB1 C1 DB2 C2 [--ignore-throughput]
//                                       the whole definitions (id aside), the throughput layouts
//                                       and every item; exits 1 on any difference
const { isDeepStrictEqual } = require("util");
const { makeClient, withoutSystemProperties, requireKey } = require("./cosmos-client");

const CONTAINER_SYSTEM_PROPERTIES = ["_rid", "_ts", "_self", "_etag", "_docs", "_sprocs", "_triggers", "_udfs", "_conflicts"];

function definition(id) {
  return {
    id,
    partitionKey: { paths: ["/tenant", "/user/id", "/region"], kind: "MultiHash", version: 2 },
    uniqueKeyPolicy: { uniqueKeys: [{ paths: ["/email"] }] },
    conflictResolutionPolicy: { mode: "LastWriterWins", conflictResolutionPath: "/_ts", conflictResolutionProcedure: "" },
    computedProperties: [{ name: "cp_lowerEmail", query: "SELECT VALUE LOWER(c.email) FROM c" }],
    analyticalStorageTtl: -1,
    defaultTtl: 86400,
    indexingPolicy: {
      indexingMode: "consistent",
      automatic: true,
      includedPaths: [{ path: "/*" }],
      excludedPaths: [{ path: "/notes/?" }],
      compositeIndexes: [[{ path: "/tenant", order: "ascending" }, { path: "/seq", order: "descending" }]],
    },
    // A policy that the tool and the wrapper know nothing of must survive as it is.
    fullTextPolicy: { defaultLanguage: "en-US", fullTextPaths: [{ path: "/notes", language: "en-US" }] },
  };
}

// Every shape of hierarchical key: all levels, a missing level, a null level, a number.
function items() {
  const list = [];
  for (let i = 0; i < 40; i += 1) {
    const item = { id: `i${i}`, tenant: `t${i % 3}`, seq: i, email: `u${i}@example.test`, notes: "ü".repeat(i) };
    if (i % 4 === 0) item.user = { id: `user-${i % 5}` };
    else if (i % 4 === 1) item.user = { id: null };
    else if (i % 4 === 2) item.user = { id: i };
    if (i % 3 !== 0) item.region = i % 2 === 0 ? "eu" : "us";
    list.push(item);
  }
  return list;
}

const LAYOUTS = {
  shared: { database: { throughput: 1000 } },
  "own-autoscale": { container: { maxThroughput: 4000 } },
  none: {},
};

async function seed(client, dbId, containerId, layoutName) {
  const layout = LAYOUTS[layoutName];
  if (!layout) throw new Error(`unknown layout ${layoutName}`);
  const { database } = await client.databases.create({ id: dbId, ...(layout.database || {}) });
  const { container } = await database.containers.create({ ...definition(containerId), ...(layout.container || {}) });
  for (const item of items()) await container.items.create(item);
  process.stdout.write(`seeded ${dbId}/${containerId}: ${items().length} items, layout ${layoutName}\n`);
}

function bare(resource) {
  const copy = { ...resource };
  for (const p of CONTAINER_SYSTEM_PROPERTIES.concat("id")) delete copy[p];
  return copy;
}

async function offerOf(client, resource) {
  const { resources } = await client.offers.query({
    query: "SELECT * FROM root r WHERE r.offerResourceId = @rid", parameters: [{ name: "@rid", value: resource._rid }],
  }).fetchAll();
  return resources.length > 0 ? resources[0].content : null;
}

async function describe(client, dbId, containerId, withThroughput) {
  const database = client.database(dbId);
  const container = database.container(containerId);
  const { resource } = await container.read();
  const { resources } = await container.items.readAll().fetchAll();
  const byId = new Map(resources.map((item) => [item.id, withoutSystemProperties(item)]));
  const shape = { definition: bare(resource), byId };
  if (withThroughput) {
    const { resource: db } = await database.read();
    shape.throughput = { database: await offerOf(client, db), container: await offerOf(client, resource) };
  }
  return shape;
}

async function compare(client, [db1, c1, db2, c2, flag]) {
  const withThroughput = flag !== "--ignore-throughput";
  const [a, b] = await Promise.all([describe(client, db1, c1, withThroughput), describe(client, db2, c2, withThroughput)]);
  const problems = [];
  if (!isDeepStrictEqual(a.definition, b.definition)) {
    problems.push(`definitions differ: ${JSON.stringify(a.definition)} vs ${JSON.stringify(b.definition)}`);
  }
  if (withThroughput && !isDeepStrictEqual(a.throughput, b.throughput)) {
    problems.push(`throughput differs: ${JSON.stringify(a.throughput)} vs ${JSON.stringify(b.throughput)}`);
  }
  for (const [id, item] of a.byId) if (!isDeepStrictEqual(item, b.byId.get(id))) problems.push(`item ${id} differs or is missing`);
  if (a.byId.size !== b.byId.size || a.byId.size === 0) problems.push(`item counts ${a.byId.size} and ${b.byId.size}`);
  process.stdout.write(`${JSON.stringify({ items: b.byId.size, throughput: b.throughput, problems })}\n`);
  if (problems.length > 0) process.exit(1);
}

async function main() {
  const [command, endpoint, ...rest] = process.argv.slice(2);
  const client = makeClient(endpoint, requireKey());
  if (command === "seed") await seed(client, ...rest);
  else if (command === "compare") await compare(client, rest);
  else if (command === "count") {
    const { resources } = await client.database(rest[0]).container(rest[1]).items.readAll().fetchAll();
    process.stdout.write(`${resources.length}\n`);
  }
  else throw new Error("usage: definitions.js seed|compare ENDPOINT ...");
}

main().catch((err) => {
  process.stderr.write(`definitions.js failed: ${err.message}\n`);
  process.exit(1);
});
