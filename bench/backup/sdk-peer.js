#!/usr/bin/env node
"use strict";
// The official Node SDK doing the backup tool's work on the same server, for comparison:
//   read DB CONTAINER PAGE_SIZE       reads every item, PAGE_SIZE per page
//   create DB CONTAINER COUNT CONCURRENCY
//                                     creates the seeded items one by one, CONCURRENCY in flight
//   batch DB CONTAINER COUNT CONCURRENCY
//                                     the same in transactional batches of up to 100 items
// The container of create and batch must not exist; it gets the seeded container's key.
// Prints one JSON line: {"operation","items","seconds","itemsPerSecond"}.
const path = require("path");
const e2e = path.join(__dirname, "..", "..", "tests", "e2e");
const { makeClient, requireKey } = require(path.join(e2e, "cosmos-client"));
const { makeItems, PARTITION_KEY_PATH } = require(path.join(e2e, "items"));

async function read(container, pageSize) {
  const started = performance.now();
  let items = 0;
  const iterator = container.items.readAll({ maxItemCount: pageSize });
  while (iterator.hasMoreResults()) {
    const { resources } = await iterator.fetchNext();
    items += resources ? resources.length : 0;
  }
  return { items, seconds: (performance.now() - started) / 1000 };
}

async function runBounded(jobs, concurrency, run) {
  let next = 0;
  const worker = async () => {
    while (next < jobs.length) await run(jobs[next++]);
  };
  await Promise.all(Array.from({ length: concurrency }, worker));
}

async function create(database, containerId, count, concurrency, batched) {
  const { container } = await database.containers.create({ id: containerId, partitionKey: { paths: [PARTITION_KEY_PATH], version: 2 } });
  const items = makeItems(count);
  const started = performance.now();
  if (!batched) {
    await runBounded(items, concurrency, (item) => container.items.create(item));
  } else {
    const groups = new Map();
    const jobs = [];
    for (const item of items) {
      if (item.blob) { jobs.push({ single: item }); continue; }
      if (!groups.has(item.tenant)) groups.set(item.tenant, []);
      groups.get(item.tenant).push(item);
    }
    for (const [tenant, group] of groups) {
      for (let i = 0; i < group.length; i += 100) jobs.push({ tenant, ops: group.slice(i, i + 100).map((resourceBody) => ({ operationType: "Create", resourceBody })) });
    }
    await runBounded(jobs, concurrency, (job) => (job.single ? container.items.create(job.single) : container.items.batch(job.ops, job.tenant)));
  }
  return { items: items.length, seconds: (performance.now() - started) / 1000 };
}

async function main() {
  const [operation, databaseId, containerId, a, b] = process.argv.slice(2);
  const client = makeClient(process.env.COSMOS_ENDPOINT, requireKey());
  const database = client.database(databaseId);
  let result;
  if (operation === "read") result = await read(database.container(containerId), Number(a));
  else if (operation === "create" || operation === "batch") result = await create(database, containerId, Number(a), Number(b), operation === "batch");
  else throw new Error("usage: sdk-peer.js read|create|batch DB CONTAINER ...");
  process.stdout.write(`${JSON.stringify({ operation, ...result, itemsPerSecond: result.items / result.seconds })}\n`);
}

main().catch((err) => {
  process.stderr.write(`sdk-peer failed: ${err.message}\n`);
  process.exit(1);
});
