"use strict";
// Deterministic items for seeding and changing a container: the shapes of ../items.js
// (nested, non-ASCII, numeric edge values, sparse) spread over many partition key values, so
// that every range of a many-range container gets items.
const { makeItems } = require("../items");

function partitionValue(i, keyCount) {
  return `pk-${String((i * 7919) % keyCount).padStart(4, "0")}`;
}

// Items `start` .. `start + count - 1`; `paths` are the container's key paths ("/tenant",
// "/a/b"): each path gets a value, hierarchical keys one level of the value each. The shapes
// are those of the first `count` test items (without the 1 MB one), whatever `start` is.
function seedItems({ count, start = 0, paths = ["/tenant"], keyCount = 97 }) {
  const shapes = makeItems(count + 1).slice(0, count);
  return shapes.map((shape, k) => {
    const i = start + k;
    const item = { ...shape, id: `item-${String(i).padStart(7, "0")}`, seq: i };
    delete item.tenant;
    paths.forEach((path, level) => {
      const segments = path.split("/").filter(Boolean);
      let at = item;
      for (const s of segments.slice(0, -1)) at = at[s] = at[s] && typeof at[s] === "object" ? at[s] : {};
      at[segments[segments.length - 1]] = level === 0 ? partitionValue(i, keyCount) : `${partitionValue(i, keyCount)}-L${level}-${i % (3 + level)}`;
    });
    return item;
  });
}

// The changed version of an item: a revision counter and a new field, the rest kept.
function updated(item, round) {
  return { ...item, revision: round, note: `updated in round ${round}` };
}

module.exports = { seedItems, updated };
