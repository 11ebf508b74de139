"use strict";
// The REST paths the tools use, below the account: databases, containers (with their quota
// information), partition key ranges, scripts and items. Offers are served by the fixture's
// offer store in server.js.
const { BadRequest } = require("./partition-key");
const { charge } = require("./charges");
const { serveDocs } = require("./docs");
const { serveScripts, isScriptKind } = require("./scripts");
const { ACCOUNT_LEVEL } = require("./session");
const { equalityFilters } = require("../fixture/http-util");

const isQuery = (headers) => String(headers["x-ms-documentdb-isquery"] || "").toLowerCase() === "true" ||
  String(headers["content-type"] || "").startsWith("application/query+json");

function listAnswer(rid, feedName, resources, filter = () => true) {
  const found = resources.filter(filter);
  return { status: 200, body: { _rid: rid, [feedName]: found, _count: found.length }, headers: { "x-ms-item-count": String(found.length) } };
}

function accountAnswer(ctx) {
  const endpoint = `${ctx.scheme}://${ctx.host}:${ctx.port}/`;
  const location = { name: "South Central US", databaseAccountEndpoint: endpoint };
  return {
    status: 200,
    body: {
      _self: "", id: ctx.host, _rid: ctx.host, media: "//media/", addresses: "//addresses/", _dbs: "//dbs/",
      writableLocations: [location], readableLocations: [location], enableMultipleWriteLocations: false,
      userConsistencyPolicy: { defaultConsistencyLevel: ACCOUNT_LEVEL },
      systemReplicationPolicy: { minReplicaSetSize: 1, maxReplicasetSize: 4 },
    },
  };
}

function serveDatabases(ctx, [, dbId]) {
  const { account, method, body, headers } = ctx;
  if (dbId === undefined) {
    const all = [...account.databases.values()].map((d) => d.resource);
    if (method === "GET") return listAnswer("", "Databases", all);
    if (method === "POST" && isQuery(headers)) return listAnswer("", "Databases", all, equalityFilters(body));
    if (method === "POST") return { status: 201, body: account.createDatabase(body, headers) };
  } else {
    if (method === "GET") return { status: 200, body: account.database(dbId).resource };
    if (method === "DELETE") {
      account.deleteDatabase(dbId);
      return { status: 204 };
    }
  }
  throw new BadRequest("Method not allowed.", 405, "MethodNotAllowed");
}

function quotaHeaders(container) {
  let bytes = 0;
  for (const r of container.items.order) bytes += r.bytes;
  const kb = Math.ceil(bytes / 1024);
  return {
    "x-ms-resource-usage": `documentsSize=${kb};documentsCount=${container.items.count};collectionSize=${kb};storedProcedures=${container.scripts.sprocs.size};triggers=${container.scripts.triggers.size};functions=${container.scripts.udfs.size}`,
    "x-ms-resource-quota": "documentsSize=52428800;documentsCount=-1;collectionSize=52428800;storedProcedures=100;triggers=25;functions=25",
  };
}

function serveContainers(ctx, [, dbId, , collId]) {
  const { account, method, body, headers } = ctx;
  if (collId === undefined) {
    const db = account.database(dbId);
    const all = [...db.containers.values()].map((c) => c.resource);
    if (method === "GET") return listAnswer(db.resource._rid, "DocumentCollections", all);
    if (method === "POST" && isQuery(headers)) return listAnswer(db.resource._rid, "DocumentCollections", all, equalityFilters(body));
    if (method === "POST") return { status: 201, body: account.createContainer(dbId, body, headers) };
  } else {
    const container = account.container(dbId, collId);
    if (method === "GET") {
      const quota = String(headers["x-ms-documentdb-populatequotainfo"] || "").toLowerCase() === "true";
      return { status: 200, body: container.resource, headers: { etag: container.resource._etag, ...(quota ? quotaHeaders(container) : {}) } };
    }
    if (method === "DELETE") {
      account.deleteContainer(dbId, collId, headers["if-match"]);
      return { status: 204 };
    }
  }
  throw new BadRequest("Method not allowed.", 405, "MethodNotAllowed");
}

// The live ranges in id order. With `rangesPageSize` the feed is paged: the continuation is
// the last id served and the next page lists the live ranges with higher ids, so a split
// between two pages gives a list with the parent (on the first) and its children (on the
// next), as the service's paged feed can. With `boundaryForms`, a hierarchical key's
// boundaries are written padded to the key's full length in one list and trimmed in the next.
function servePartitionKeyRanges(ctx, container) {
  if (ctx.method !== "GET") throw new BadRequest("Method not allowed.", 405, "MethodNotAllowed");
  const { table } = container;
  const after = ctx.headers["x-ms-continuation"];
  const rest = table.ranges.filter((r) => after === undefined || Number(r.id) > Number(after)).sort((a, b) => Number(a.id) - Number(b.id));
  const pageSize = ctx.options.rangesPageSize > 0 ? ctx.options.rangesPageSize : rest.length;
  const page = rest.slice(0, pageSize);
  if (after === undefined) container.listings += 1;
  const form = ctx.options.boundaryForms && container.hierarchical && container.listings % 2 === 0 ? "trimmed" : "padded";
  const answer = listAnswer(container.rid, "PartitionKeyRanges", page.map((r) => table.describe(r, container.self, form)));
  if (page.length < rest.length) {
    answer.headers["x-ms-continuation"] = page[page.length - 1].id;
    ctx.control.onRangePage(container);
  }
  return answer;
}

// The container a request below it names; a missing one answers 404/1003 (the owner resource
// does not exist), which a client tells apart from a missing item (404 without substatus).
function ownerContainer(account, dbId, collId) {
  try {
    return account.container(dbId, collId);
  } catch (err) {
    if (err.status === 404) err.substatus = 1003;
    throw err;
  }
}

// Routes a request below the account; returns an answer (see docs.js).
function route(ctx) {
  const s = ctx.segments;
  let answer;
  if (s.length === 0) answer = accountAnswer(ctx);
  else if (s[0] !== "dbs") throw new BadRequest("no route", 400);
  else if (s.length <= 2) answer = serveDatabases(ctx, s);
  else if (s[2] !== "colls") throw new BadRequest("no route", 400);
  else if (s.length <= 4) answer = serveContainers(ctx, s);
  else if (s.length <= 6) {
    const container = ownerContainer(ctx.account, s[1], s[3]);
    if (s[4] === "docs") return serveDocs(ctx, container, s[5]);
    if (s[4] === "pkranges" && s.length === 5) answer = servePartitionKeyRanges(ctx, container);
    else if (isScriptKind(s[4])) answer = serveScripts(container, s[4], s[5], ctx.method, ctx.body, isQuery(ctx.headers));
    else throw new BadRequest("no route", 400);
  } else throw new BadRequest("no route", 400);
  return { ru: charge.metadata(), ...answer };
}

module.exports = { route };
