#!/usr/bin/env node
"use strict";
// Seeds a partitioned container with the official SDK: items of varied shapes (nested,
// non-ASCII, numeric edge values, one item near 1 MB, several partition key values), two
// stored procedures, two triggers, two user-defined functions and a manual throughput.
// Usage: COSMOS_KEY=... node seed.js ENDPOINT DATABASE CONTAINER [ITEM_COUNT]
// With SEED_SHARED_THROUGHPUT=N the database is created with N RU/s shared by its containers,
// and the container gets no throughput of its own.
const { makeClient, requireKey } = require("./cosmos-client");
const { makeItems, PARTITION_KEY_PATH } = require("./items");

const THROUGHPUT = 600;
const INDEXING_POLICY = {
  indexingMode: "consistent",
  automatic: true,
  includedPaths: [{ path: "/*" }],
  excludedPaths: [{ path: "/blob/?" }, { path: "/\"_etag\"/?" }],
};

const SCRIPTS = {
  storedProcedures: [
    { id: "spCount", body: "function spCount(prefix) { var c = getContext().getCollection(); getContext().getResponse().setBody(prefix); }" },
    { id: "spÜbertrag", body: "function spUebertrag(a, b) {\n  // moves a value between two items\n  getContext().getResponse().setBody([a, b]);\n}" },
  ],
  triggers: [
    { id: "trgStamp", triggerType: "Pre", triggerOperation: "Create", body: "function trgStamp() { var r = getContext().getRequest(); var d = r.getBody(); d.stamped = true; r.setBody(d); }" },
    { id: "trgAudit", triggerType: "Post", triggerOperation: "All", body: "function trgAudit() { /* audit \"post\" */ }" },
  ],
  userDefinedFunctions: [
    { id: "udfTax", body: "function udfTax(x) { return x * 1.19; }" },
    { id: "udfLabel", body: "function udfLabel(s) { return 'label:' + s; }" },
  ],
};

async function createItems(container, items) {
  const groups = new Map();
  for (const item of items) {
    if (item.blob) {
      await container.items.create(item); // too large for a batch
      continue;
    }
    if (!groups.has(item.tenant)) groups.set(item.tenant, []);
    groups.get(item.tenant).push(item);
  }
  const jobs = [];
  for (const [tenant, group] of groups) {
    for (let i = 0; i < group.length; i += 100) {
      const ops = group.slice(i, i + 100).map((resourceBody) => ({ operationType: "Create", resourceBody }));
      jobs.push({ tenant, ops });
    }
  }
  let next = 0;
  const worker = async () => {
    while (next < jobs.length) {
      const { tenant, ops } = jobs[next++];
      const response = await container.items.batch(ops, tenant);
      const failed = response.result.filter((r) => r.statusCode >= 400);
      if (failed.length > 0) throw new Error(`batch for ${tenant} failed: ${failed[0].statusCode}`);
    }
  };
  await Promise.all(Array.from({ length: 8 }, worker));
}

async function main() {
  const [endpoint, databaseId, containerId, countText] = process.argv.slice(2);
  if (!containerId) throw new Error("usage: seed.js ENDPOINT DATABASE CONTAINER [ITEM_COUNT]");
  const count = countText ? Number(countText) : 10000;
  const client = makeClient(endpoint, requireKey());
  const shared = Number(process.env.SEED_SHARED_THROUGHPUT || 0);
  const { database } = await client.databases.createIfNotExists(shared ? { id: databaseId, throughput: shared } : { id: databaseId });
  const { container } = await database.containers.create({
    id: containerId,
    partitionKey: { paths: [PARTITION_KEY_PATH], version: 2 },
    indexingPolicy: INDEXING_POLICY,
    throughput: shared ? undefined : THROUGHPUT,
  });
  const items = makeItems(count);
  await createItems(container, items);
  for (const sp of SCRIPTS.storedProcedures) await container.scripts.storedProcedures.create(sp);
  for (const t of SCRIPTS.triggers) await container.scripts.triggers.create(t);
  for (const u of SCRIPTS.userDefinedFunctions) await container.scripts.userDefinedFunctions.create(u);
  process.stdout.write(`seeded ${items.length} items, 2 stored procedures, 2 triggers, 2 user-defined functions, throughput ${shared ? `${shared} shared` : THROUGHPUT}\n`);
}

if (require.main === module) {
  main().catch((err) => {
    process.stderr.write(`seed failed: ${err.message}\n`);
    process.exit(1);
  });
}

module.exports = { SCRIPTS, THROUGHPUT, INDEXING_POLICY };
