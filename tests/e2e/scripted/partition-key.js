"use strict";
// Partition key definitions, the values an item has at the key paths, the request header that
// must name them, and the effective partition key (EPK) that places an item in a range.
//
// The EPK is a hex string: for each key path, 16 bytes of a hash of the value with the top two
// bits cleared (as the service's version 2 hashing does), so every EPK lies in
// ["", "40000000000000000000000000000000"); MultiHash keys concatenate one hash per path.
// Ranges are intervals [minInclusive, maxExclusive) compared as strings, "" to "FF".
const crypto = require("crypto");
const { isDeepStrictEqual } = require("util");

const UNDEFINED = Symbol("undefined"); // an item without a value at a key path: header {}
const MAX_PATHS = 3;
// The key of a container made before partitioning existed ("systemKey": true).
const SYSTEM_KEY_PATH = "/_partitionKey";

class BadRequest extends Error {
  constructor(message, status = 400, code = "BadRequest") {
    super(message);
    this.status = status;
    this.code = code;
  }
}

// "/a/b" -> ["a", "b"]; a segment may be quoted: /"a b".
function segmentsOf(path) {
  return path.split("/").filter((s) => s.length > 0)
    .map((s) => (s.length >= 2 && s.startsWith('"') && s.endsWith('"') ? s.slice(1, -1) : s));
}

// Checks a container's partitionKey as the service does; returns the key paths' segments.
function parseDefinition(definition, apiVersion) {
  if (!definition || !Array.isArray(definition.paths) || definition.paths.length === 0) {
    throw new BadRequest("The partition key definition must name at least one path.");
  }
  const kind = definition.kind === undefined ? "Hash" : definition.kind;
  if (kind === "MultiHash") {
    if (!apiVersion || apiVersion < "2020-07-15") {
      throw new BadRequest("The 'kind' value 'MultiHash' specified in the partition key definition is invalid. Please choose 'Hash' partition type.");
    }
    if (definition.paths.length > MAX_PATHS) throw new BadRequest(`A hierarchical partition key has at most ${MAX_PATHS} paths.`);
    if (definition.version !== 2) throw new BadRequest("A hierarchical partition key needs version 2.");
  } else if (kind === "Hash") {
    if (definition.paths.length !== 1) throw new BadRequest("A Hash partition key has exactly one path.");
    if (definition.systemKey === true && definition.paths[0] !== SYSTEM_KEY_PATH) throw new BadRequest(`A system key is ${SYSTEM_KEY_PATH}.`);
  } else {
    throw new BadRequest(`The 'kind' value '${kind}' specified in the partition key definition is invalid. Please choose 'Hash' partition type.`);
  }
  if (definition.version !== undefined && definition.version !== 1 && definition.version !== 2) {
    throw new BadRequest("The partition key version must be 1 or 2.");
  }
  const seen = new Set();
  for (const p of definition.paths) {
    if (typeof p !== "string" || !p.startsWith("/") || segmentsOf(p).length === 0) throw new BadRequest(`Partition key path ${JSON.stringify(p)} is invalid.`);
    if (seen.has(p)) throw new BadRequest(`Partition key path ${p} is repeated.`);
    seen.add(p);
  }
  return definition.paths.map(segmentsOf);
}

// The item's value at each key path; objects, arrays and missing values are UNDEFINED.
function valuesOf(paths, item) {
  return paths.map((segments) => {
    let v = item;
    for (const s of segments) {
      if (v === null || typeof v !== "object" || Array.isArray(v) || !Object.prototype.hasOwnProperty.call(v, s)) return UNDEFINED;
      v = v[s];
    }
    return v !== null && typeof v === "object" ? UNDEFINED : v;
  });
}

// The header's values: a JSON array with one value per key path, {} for none. A system key
// takes [value] for an item with a _partitionKey and [] for one without ([{}] is refused).
function parseHeader(paths, header, systemKey = false) {
  if (header === undefined) throw new BadRequest("PartitionKey value must be supplied for this operation.");
  let values;
  try {
    values = JSON.parse(header);
  } catch (err) {
    throw new BadRequest(`The partition key header ${header} is not valid JSON.`);
  }
  if (!Array.isArray(values)) throw new BadRequest(`The partition key header ${header} is not a JSON array.`);
  if (systemKey) {
    if (values.length === 0) return [UNDEFINED];
    if (values.length > 1 || (values[0] !== null && typeof values[0] === "object")) {
      throw new BadRequest(`The partition key header ${header} does not address an item of a container with a system key: [value] or [].`);
    }
  }
  if (values.length !== paths.length) {
    throw new BadRequest(`Partition key provided either doesn't correspond to definition in the collection or doesn't match partition key field values specified in the document.`);
  }
  return values.map((v) => {
    if (v !== null && typeof v === "object") {
      if (!Array.isArray(v) && Object.keys(v).length === 0) return UNDEFINED;
      throw new BadRequest(`The partition key header ${header} holds a value that is not a string, number, boolean or null.`);
    }
    return v;
  });
}

function sameValues(a, b) {
  return a.length === b.length && a.every((v, i) => isDeepStrictEqual(v, b[i]));
}

// The values as the header would carry them (canonical JSON), used as a map key.
function keyText(values) {
  return JSON.stringify(values.map((v) => (v === UNDEFINED ? {} : v)));
}

function hashOne(value) {
  const tagged = value === UNDEFINED ? "u" : `${typeof value}:${JSON.stringify(value)}`;
  const bytes = crypto.createHash("md5").update(tagged, "utf8").digest();
  bytes[0] &= 0x3f;
  return bytes.toString("hex").toUpperCase();
}

function effectiveKey(values) {
  return values.map(hashOne).join("");
}

module.exports = { BadRequest, UNDEFINED, parseDefinition, valuesOf, parseHeader, sameValues, keyText, effectiveKey };
