#!/usr/bin/env node
"use strict";
// Makes a crafted copy of a good backup that breaks one rule a backup directory is held to,
// with sizes, checksums and counts in the manifest made to match wherever the rule allows, so
// that only the rule's own check can catch it.
// Usage: craft-backup.js GOOD_DIR OUT_DIR RULE
//   parent-name    a data file named "../…", lying beside the backup
//   absolute-name  a data file named by its absolute path
//   symlink        a data file that is a symbolic link to a file outside the backup
//   not-gzip       a data file stored as plain text
//   long-line      one more item, 4 MiB + 1 byte long
//   not-object     a line that is JSON but not an object
//   file-counts    per-file item counts moved between two files, the total unchanged
//   huge-manifest  a manifest padded beyond its size limit
//   refused-ids    two more items whose ids the service refuses ("bad/1", "bad?2"): a restore
//                  writes the others and lists these in its failure report
const fs = require("fs");
const path = require("path");
const zlib = require("zlib");

const MAX_LINE = 4 * 1024 * 1024;
const MAX_MANIFEST = 64 * 1024 * 1024;

function entryFor(file, bytes) {
  file.bytes = bytes.length;
  file.crc32 = zlib.crc32(bytes).toString(16).padStart(8, "0");
}

function rewrite(dir, file, transform) {
  const where = path.join(dir, file.name);
  const lines = zlib.gunzipSync(fs.readFileSync(where)).toString("utf8").split("\n").slice(0, -1);
  const changed = transform(lines);
  const bytes = zlib.gzipSync(Buffer.from(changed.map((l) => `${l}\n`).join(""), "utf8"));
  fs.writeFileSync(where, bytes);
  entryFor(file, bytes);
  file.items = changed.length;
}

const RULES = {
  "parent-name": (dir, m) => {
    const outside = path.join(dir, "..", `outside-${path.basename(dir)}.jsonl.gz`);
    fs.renameSync(path.join(dir, m.files[0].name), outside);
    m.files[0].name = `../${path.basename(outside)}`;
  },
  "absolute-name": (dir, m) => {
    const outside = path.resolve(dir, "..", `absolute-${path.basename(dir)}.jsonl.gz`);
    fs.renameSync(path.join(dir, m.files[0].name), outside);
    m.files[0].name = outside;
  },
  symlink: (dir, m) => {
    const inside = path.join(dir, m.files[0].name);
    const outside = path.resolve(dir, "..", `linked-${path.basename(dir)}.jsonl.gz`);
    fs.renameSync(inside, outside);
    fs.symlinkSync(outside, inside);
  },
  "not-gzip": (dir, m) => {
    const where = path.join(dir, m.files[0].name);
    const plain = zlib.gunzipSync(fs.readFileSync(where));
    fs.writeFileSync(where, plain);
    entryFor(m.files[0], plain);
  },
  "long-line": (dir, m) => {
    rewrite(dir, m.files[0], (lines) => {
      const head = '{"id":"long","pad":"';
      return lines.concat(head + "x".repeat(MAX_LINE + 1 - head.length - 2) + '"}');
    });
    m.itemCount += 1;
    // The seal's counts agree, so that the line's own limit is what refuses it.
    if (m.chain && m.chain.keys) m.chain.keys.items += 1;
  },
  "not-object": (dir, m) => rewrite(dir, m.files[0], (lines) => lines.slice(0, -1).concat("[1,2,3]")),
  "file-counts": (dir, m) => {
    if (m.files.length < 2) throw new Error("file-counts needs a backup of at least two files");
    m.files[0].items += 1;
    m.files[1].items -= 1;
  },
  "huge-manifest": () => {},
  "refused-ids": (dir, m) => {
    const ids = ["bad/1", "bad?2"];
    let first;
    rewrite(dir, m.files[0], (lines) => {
      first = JSON.parse(lines[0]);
      return lines.concat(ids.map((id) => JSON.stringify({ ...first, id })));
    });
    m.itemCount += 2;
    if (!m.chain || !m.chain.keys) return;
    // The key file holds the two as well (with the first item's partition key), in its byte order.
    rewrite(dir, m.chain.keys, (keys) => {
      const own = JSON.parse(keys.find((k) => JSON.parse(k)[0] === first.id));
      return keys.concat(ids.map((id) => JSON.stringify([id, ...own.slice(1)]))).sort((a, b) => Buffer.compare(Buffer.from(a), Buffer.from(b)));
    });
  },
};

function main() {
  const [good, out, rule] = process.argv.slice(2);
  if (!RULES[rule]) throw new Error(`usage: craft-backup.js GOOD_DIR OUT_DIR ${Object.keys(RULES).join("|")}`);
  fs.cpSync(good, out, { recursive: true });
  const manifestPath = path.join(out, "manifest.json");
  const manifest = JSON.parse(fs.readFileSync(manifestPath, "utf8"));
  RULES[rule](out, manifest);
  let text = JSON.stringify(manifest, null, 2);
  if (rule === "huge-manifest") text += " ".repeat(MAX_MANIFEST + 1 - text.length);
  fs.writeFileSync(manifestPath, text);
}

main();
