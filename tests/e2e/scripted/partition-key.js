"use strict";
// Partition key definitions, the values an item has at the key paths, the request header that
// must name them, and the effective partition key (EPK) that places an item in a range.
//
// The EPK is a hex string: for each key path, the service's version 2 hash of the value (16
// bytes, the top two bits cleared; hash version 1 containers are placed alike here), so every EPK lies in
// ["", "40000000000000000000000000000000"); MultiHash keys concatenate one hash per path.
// Ranges are intervals [minInclusive, maxExclusive) compared as strings, "" to "FF".
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

const MASK64 = (1n << 64n) - 1n;
const rotl64 = (x, r) => ((x << BigInt(r)) | (x >> BigInt(64 - r))) & MASK64;
const mul64 = (a, b) => (a * b) & MASK64;
function fmix64(k) {
  k ^= k >> 33n;
  k = mul64(k, 0xff51afd7ed558ccdn);
  k ^= k >> 33n;
  k = mul64(k, 0xc4ceb9fe1a85ec53n);
  return k ^ (k >> 33n);
}
function littleEndian64(buf, offset, n) {
  let v = 0n;
  for (let i = n - 1; i >= 0; i -= 1) v = (v << 8n) | BigInt(buf[offset + i]);
  return v;
}

// MurmurHash3 x64 128-bit, seed 0: [h1, h2].
function murmur3x64128(buf) {
  const c1 = 0x87c37b91114253d5n;
  const c2 = 0x4cf5ad432745937fn;
  let h1 = 0n;
  let h2 = 0n;
  const blocks = Math.floor(buf.length / 16);
  for (let i = 0; i < blocks; i += 1) {
    h1 ^= mul64(rotl64(mul64(littleEndian64(buf, 16 * i, 8), c1), 31), c2);
    h1 = (mul64((rotl64(h1, 27) + h2) & MASK64, 5n) + 0x52dce729n) & MASK64;
    h2 ^= mul64(rotl64(mul64(littleEndian64(buf, 16 * i + 8, 8), c2), 33), c1);
    h2 = (mul64((rotl64(h2, 31) + h1) & MASK64, 5n) + 0x38495ab5n) & MASK64;
  }
  const rest = buf.length & 15;
  const tail = 16 * blocks;
  if (rest > 8) h2 ^= mul64(rotl64(mul64(littleEndian64(buf, tail + 8, rest - 8), c2), 33), c1);
  if (rest > 0) h1 ^= mul64(rotl64(mul64(littleEndian64(buf, tail, Math.min(rest, 8)), c1), 31), c2);
  const length = BigInt(buf.length);
  h1 ^= length;
  h2 ^= length;
  h1 = (h1 + h2) & MASK64;
  h2 = (h2 + h1) & MASK64;
  h1 = fmix64(h1);
  h2 = fmix64(h2);
  h1 = (h1 + h2) & MASK64;
  h2 = (h2 + h1) & MASK64;
  return [h1, h2];
}

// The service's version 2 hash of one value: MurmurHash3-128 of its typed bytes, the bytes of the
// 128-bit result reversed, the top two bits cleared (the SDKs' own test vectors hold for it).
function hashOne(value) {
  let bytes;
  if (value === UNDEFINED) bytes = Buffer.from([0x00]);
  else if (value === null) bytes = Buffer.from([0x01]);
  else if (typeof value === "boolean") bytes = Buffer.from([value ? 0x03 : 0x02]);
  else if (typeof value === "number") {
    bytes = Buffer.alloc(9);
    bytes[0] = 0x05;
    bytes.writeDoubleLE(value, 1);
  } else bytes = Buffer.concat([Buffer.from([0x08]), Buffer.from(String(value), "utf8"), Buffer.from([0xff])]);
  const [h1, h2] = murmur3x64128(bytes);
  const out = Buffer.from(h2.toString(16).padStart(16, "0") + h1.toString(16).padStart(16, "0"), "hex");
  out[0] &= 0x3f;
  return out.toString("hex").toUpperCase();
}

function effectiveKey(values) {
  return values.map(hashOne).join("");
}

module.exports = { BadRequest, UNDEFINED, parseDefinition, valuesOf, parseHeader, sameValues, keyText, effectiveKey };
