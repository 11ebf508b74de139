"use strict";
// A minimal signed REST client for the tests and the command line: one request, its status,
// headers and parsed body. Certificate checks are off (the local servers' certificate is
// self-signed).
const http = require("http");
const https = require("https");
const { resourceOf, sign } = require("../fixture/signature");

const EMULATOR_KEY = "C2y6yDjf5/R+ob0N8A7Cgv30VRDJIWEHLM+4QDU5DE2nQ9nDuVTqobD4b8mGGyPMbIZnqyMsEcaGQy67XIw/Jw==";

function request(endpoint, method, path, { body, headers = {}, key = EMULATOR_KEY } = {}) {
  const url = new URL(path, endpoint);
  const date = new Date().toUTCString();
  const { type, link } = resourceOf(url.pathname);
  const all = {
    "x-ms-date": date,
    "x-ms-version": "2018-12-31",
    authorization: encodeURIComponent(`type=master&ver=1.0&sig=${sign(key, method, type, link, date)}`),
    ...headers,
  };
  const payload = body === undefined ? undefined : Buffer.from(typeof body === "string" ? body : JSON.stringify(body));
  if (payload) {
    all["content-type"] = all["content-type"] || "application/json";
    all["content-length"] = String(payload.length);
  }
  const lib = url.protocol === "https:" ? https : http;
  return new Promise((resolve, reject) => {
    const req = lib.request(url, { method, headers: all, rejectUnauthorized: false }, (res) => {
      const chunks = [];
      res.on("data", (c) => chunks.push(c));
      res.on("end", () => {
        const text = Buffer.concat(chunks).toString("utf8");
        let json;
        try {
          json = text.length > 0 ? JSON.parse(text) : undefined;
        } catch (err) {
          json = undefined;
        }
        resolve({ status: res.statusCode, headers: res.headers, text, body: json });
      });
    });
    req.on("error", reject);
    if (payload) req.write(payload);
    req.end();
  });
}

// A control call: POST (or GET without a body) to /_control/<action>.
async function control(endpoint, action, args) {
  const res = await request(endpoint, args === undefined ? "GET" : "POST", `/_control/${action}`, { body: args });
  if (res.status !== 200) throw new Error(`control ${action} answered ${res.status}: ${res.text}`);
  return res.body;
}

module.exports = { request, control, EMULATOR_KEY };
