"use strict";
// Deterministic test items of varied shapes. The same count always gives the same items, so
// a benchmark and a test can make them again without storing them.
const PARTITION_KEY_PATH = "/tenant";
const TENANTS = ["alpha", "beta", "gamma", "Zürich-東京", "emoji-🚀", "delta", "epsilon"];

// A small linear congruential generator: repeatable without a dependency.
function generator(seed) {
  let state = seed >>> 0;
  return () => {
    state = (Math.imul(state, 1664525) + 1013904223) >>> 0;
    return state / 4294967296;
  };
}

const NUMERIC_EDGES = [0, -1, 1.5, -0.000001, 1e308, -1e308, 5e-324, 9007199254740991, -9007199254740991,
  2147483647, -2147483648, 4294967296, 0.1, 123456789.123456];

const TEXTS = ["plain", "Grüße aus München", "日本語のテキスト", "emoji 🎉🚀", "quote \" and backslash \\",
  "tab\tnewline\n", "null char? no", "ελληνικά", "עברית", "\u00e9\u0301 combining", "<html>&amp;</html>"];

function makeItem(i, rnd) {
  const tenant = TENANTS[i % TENANTS.length];
  const base = { id: `item-${String(i).padStart(6, "0")}`, tenant, seq: i };
  switch (i % 5) {
    case 0:
      return { ...base, kind: "flat", name: TEXTS[i % TEXTS.length], value: NUMERIC_EDGES[i % NUMERIC_EDGES.length], active: i % 2 === 0 };
    case 1:
      return {
        ...base, kind: "nested",
        address: { street: `${i} Main St`, city: TEXTS[(i * 7) % TEXTS.length], geo: { lat: rnd() * 180 - 90, lon: rnd() * 360 - 180 } },
        tags: ["a", "b", TEXTS[i % TEXTS.length]],
        matrix: [[1, 2], [3, [4, { deep: { deeper: { deepest: i } } }]]],
      };
    case 2:
      return { ...base, kind: "numbers", edges: NUMERIC_EDGES, scaled: NUMERIC_EDGES.map((n) => n / 3), random: rnd() };
    case 3:
      return { ...base, kind: "sparse", nothing: null, empty: {}, emptyList: [], emptyText: "", flag: false };
    default:
      return { ...base, kind: "text", ["ключ-" + (i % 10)]: TEXTS[(i * 3) % TEXTS.length].repeat(1 + (i % 20)) };
  }
}

// `count` items; the last one is near 1 MB (a long text in "blob").
function makeItems(count) {
  const rnd = generator(20261207);
  const items = [];
  for (let i = 0; i < count - 1; i += 1) items.push(makeItem(i, rnd));
  const big = "0123456789abcdef".repeat(63 * 1024); // 1,032,192 bytes of text
  items.push({ id: "item-large", tenant: TENANTS[0], kind: "large", blob: big });
  return items;
}

module.exports = { makeItems, PARTITION_KEY_PATH, TENANTS };
