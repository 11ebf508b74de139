"use strict";
// A container's stored procedures, triggers and user-defined functions: create, read, list,
// replace, delete. They are stored, never run: executing a stored procedure answers 400.
const { BadRequest } = require("./partition-key");
const { newRid, newEtag } = require("./account");

const KINDS = {
  sprocs: { feed: "StoredProcedures" },
  triggers: {
    feed: "Triggers",
    check(body) {
      if (!["Pre", "Post"].includes(body.triggerType)) throw new BadRequest("triggerType must be Pre or Post.");
      if (!["All", "Create", "Update", "Delete", "Replace"].includes(body.triggerOperation)) {
        throw new BadRequest("triggerOperation must be All, Create, Update, Delete or Replace.");
      }
    },
  },
  udfs: { feed: "UserDefinedFunctions" },
};

const isScriptKind = (kind) => Object.prototype.hasOwnProperty.call(KINDS, kind);

function store(container, kind, body, status) {
  if (!body || typeof body.id !== "string" || body.id.length === 0) throw new BadRequest("The resource id is missing.");
  if (typeof body.body !== "string") throw new BadRequest("The script body is missing.");
  if (KINDS[kind].check) KINDS[kind].check(body);
  const scripts = container.scripts[kind];
  const previous = scripts.get(body.id);
  const rid = previous ? previous._rid : newRid();
  const resource = { ...body, _rid: rid, _self: `${container.self}${kind}/${rid}/`, _etag: newEtag(), _ts: Math.floor(Date.now() / 1000) };
  scripts.set(body.id, resource);
  return { status, body: resource, headers: { etag: resource._etag } };
}

// Serves METHOD on /dbs/d/colls/c/<kind>[/id]; `query` is true for a query POST.
function serveScripts(container, kind, id, method, body, query) {
  const scripts = container.scripts[kind];
  if (id === undefined) {
    if (method === "GET" || (method === "POST" && query)) {
      const all = [...scripts.values()];
      return { status: 200, body: { _rid: container.rid, [KINDS[kind].feed]: all, _count: all.length }, headers: { "x-ms-item-count": String(all.length) } };
    }
    if (method !== "POST") throw new BadRequest("Method not allowed.", 405, "MethodNotAllowed");
    if (body && scripts.has(body.id)) throw new BadRequest("Resource with specified id or name already exists.", 409, "Conflict");
    return store(container, kind, body, 201);
  }
  if (method === "POST" && kind === "sprocs") throw new BadRequest("This test server stores stored procedures but does not run them.");
  const existing = scripts.get(id);
  if (!existing) throw new BadRequest("Resource Not Found.", 404, "NotFound");
  if (method === "GET") return { status: 200, body: existing, headers: { etag: existing._etag } };
  if (method === "DELETE") {
    scripts.delete(id);
    return { status: 204 };
  }
  if (method === "PUT") {
    if (!body || body.id !== id) throw new BadRequest("The id in the body must match the path.");
    return store(container, kind, body, 200);
  }
  throw new BadRequest("Method not allowed.", 405, "MethodNotAllowed");
}

module.exports = { serveScripts, isScriptKind };
