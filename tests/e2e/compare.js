#!/usr/bin/env node
"use strict";
// Reads two containers back with the official SDK and compares them: every item (system
// properties ignored), every stored procedure, trigger and user-defined function, the
// partition key definition and the throughput. Prints a one-line JSON summary; exits 1 on
// any difference.
// Usage: COSMOS_KEY=... node compare.js ENDPOINT SOURCE_DB SOURCE_CONTAINER TARGET_DB TARGET_CONTAINER
const { isDeepStrictEqual } = require("util");
const { makeClient, withoutSystemProperties, requireKey } = require("./cosmos-client");

async function readItems(container) {
  const { resources } = await container.items.readAll({ maxItemCount: 1000 }).fetchAll();
  const byKey = new Map();
  for (const item of resources) byKey.set(JSON.stringify([item.tenant, item.id]), withoutSystemProperties(item));
  return byKey;
}

function scriptView(list, fields) {
  return list.map((s) => Object.fromEntries(fields.map((f) => [f, s[f]]))).sort((a, b) => a.id.localeCompare(b.id));
}

async function readScripts(container) {
  const s = container.scripts;
  const [sp, tr, udf] = await Promise.all([
    s.storedProcedures.readAll().fetchAll(), s.triggers.readAll().fetchAll(), s.userDefinedFunctions.readAll().fetchAll(),
  ]);
  return {
    storedProcedures: scriptView(sp.resources, ["id", "body"]),
    triggers: scriptView(tr.resources, ["id", "body", "triggerType", "triggerOperation"]),
    userDefinedFunctions: scriptView(udf.resources, ["id", "body"]),
  };
}

async function readShape(container) {
  const { resource } = await container.read();
  const { resource: offer } = await container.readOffer();
  return {
    partitionKey: { paths: resource.partitionKey.paths, kind: resource.partitionKey.kind },
    throughput: offer ? offer.content.offerThroughput : null,
  };
}

async function main() {
  const [endpoint, sdb, sc, tdb, tc] = process.argv.slice(2);
  if (!tc) throw new Error("usage: compare.js ENDPOINT SOURCE_DB SOURCE_CONTAINER TARGET_DB TARGET_CONTAINER");
  const client = makeClient(endpoint, requireKey());
  const source = client.database(sdb).container(sc);
  const target = client.database(tdb).container(tc);
  const [si, ti] = await Promise.all([readItems(source), readItems(target)]);
  const problems = [];
  let equal = 0;
  for (const [key, item] of si) {
    const other = ti.get(key);
    if (!other) problems.push(`missing in target: ${key}`);
    else if (!isDeepStrictEqual(item, other)) problems.push(`differs: ${key}`);
    else equal += 1;
  }
  for (const key of ti.keys()) if (!si.has(key)) problems.push(`extra in target: ${key}`);
  const [ss, ts] = await Promise.all([readScripts(source), readScripts(target)]);
  for (const kind of Object.keys(ss)) {
    if (!isDeepStrictEqual(ss[kind], ts[kind])) problems.push(`${kind} differ`);
  }
  const [sh, th] = await Promise.all([readShape(source), readShape(target)]);
  if (!isDeepStrictEqual(sh, th)) problems.push(`container settings differ: ${JSON.stringify(sh)} vs ${JSON.stringify(th)}`);
  const summary = {
    sourceItems: si.size, targetItems: ti.size, equalItems: equal,
    scripts: Object.fromEntries(Object.entries(ts).map(([k, v]) => [k, v.length])),
    throughput: th.throughput, problems: problems.slice(0, 10), problemCount: problems.length,
  };
  process.stdout.write(`${JSON.stringify(summary)}\n`);
  if (problems.length > 0 || si.size === 0) process.exit(1);
}

main().catch((err) => {
  process.stderr.write(`compare failed: ${err.message}\n`);
  process.exit(1);
});
