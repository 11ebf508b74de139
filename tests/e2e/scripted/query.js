"use strict";
// The item queries that the tools send, parsed strictly; anything else is refused with 400 so
// that a client relying on more is noticed:
//   SELECT * FROM c
//   SELECT VALUE COUNT(1) FROM c
//   SELECT c.id, c.a.b, c["x y"] AS k FROM c      (projections: a key-only read)
//   SELECT VALUE c.id FROM c
const { BadRequest } = require("./partition-key");

const PATH = String.raw`(\w+)((?:\s*\.\s*\w+|\s*\[\s*"(?:[^"\\]|\\.)*"\s*\])+)`;

function parsePath(text, alias) {
  const m = new RegExp(`^${PATH}$`).exec(text.trim());
  if (!m || m[1] !== alias) return null;
  const segments = [];
  const re = /\.\s*(\w+)|\[\s*("(?:[^"\\]|\\.)*")\s*\]/g;
  let s;
  while ((s = re.exec(m[2])) !== null) segments.push(s[1] !== undefined ? s[1] : JSON.parse(s[2]));
  return segments;
}

// Splits a projection list at top-level commas (none occur inside the supported paths' quotes
// in practice, but quoted names may hold commas).
function splitList(text) {
  const parts = [];
  let depth = 0;
  let quoted = false;
  let start = 0;
  for (let i = 0; i < text.length; i += 1) {
    const ch = text[i];
    if (quoted) {
      if (ch === "\\") i += 1;
      else if (ch === '"') quoted = false;
    } else if (ch === '"') quoted = true;
    else if (ch === "[") depth += 1;
    else if (ch === "]") depth -= 1;
    else if (ch === "," && depth === 0) {
      parts.push(text.slice(start, i));
      start = i + 1;
    }
  }
  parts.push(text.slice(start));
  return parts;
}

function unsupported(sql) {
  return new BadRequest(`The test server does not support the query ${JSON.stringify(sql)}.`);
}

// Returns { kind: "all" } | { kind: "count" } | { kind: "project", value, fields: [{name, path}] }.
function parseQuery(body) {
  const sql = body && typeof body.query === "string" ? body.query : null;
  if (sql === null) throw new BadRequest("The query body has no query text.");
  const m = /^\s*SELECT\s+(VALUE\s+)?([\s\S]+?)\s+FROM\s+(\w+)\s*$/i.exec(sql);
  if (!m) throw unsupported(sql);
  const [, value, list, alias] = m;
  if (!value && list.trim() === "*") return { kind: "all" };
  if (value && /^COUNT\s*\(\s*(1|\w+)\s*\)$/i.test(list.trim())) return { kind: "count" };
  const fields = splitList(list).map((item, i) => {
    const as = /^([\s\S]+?)\s+AS\s+(\w+)\s*$/i.exec(item.trim());
    const path = parsePath(as ? as[1] : item, alias);
    if (!path) throw unsupported(sql);
    return { name: as ? as[2] : path[path.length - 1], path, position: i + 1 };
  });
  if (value && fields.length !== 1) throw unsupported(sql);
  const names = new Set();
  for (const f of fields) {
    if (names.has(f.name)) f.name = `$${f.position}`;
    names.add(f.name);
  }
  return { kind: "project", value: Boolean(value), fields };
}

function valueAt(doc, path) {
  let v = doc;
  for (const s of path) {
    if (v === null || typeof v !== "object" || !Object.prototype.hasOwnProperty.call(v, s)) return undefined;
    v = v[s];
  }
  return v;
}

// The projection of one item; undefined values are left out, as the service does.
function project(query, doc) {
  if (query.value) return valueAt(doc, query.fields[0].path);
  const out = {};
  for (const f of query.fields) {
    const v = valueAt(doc, f.path);
    if (v !== undefined) out[f.name] = v;
  }
  return out;
}

module.exports = { parseQuery, project };
