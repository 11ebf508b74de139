"use strict";
// The official SDK's client, set up for the local test server: its certificate is self-signed,
// so verification is off for 127.0.0.1 only, and endpoint discovery is off because the server
// advertises an address of its own.
const https = require("https");
const { CosmosClient } = require("@azure/cosmos");

function makeClient(endpoint, key) {
  const local = /^https:\/\/(127\.0\.0\.1|localhost)[:/]/.test(endpoint);
  return new CosmosClient({
    endpoint,
    key,
    agent: local ? new https.Agent({ rejectUnauthorized: false }) : undefined,
    connectionPolicy: { enableEndpointDiscovery: false },
  });
}

// System properties the service adds to every item; they differ between two copies.
const SYSTEM_PROPERTIES = ["_rid", "_self", "_etag", "_attachments", "_ts"];

function withoutSystemProperties(item) {
  const copy = { ...item };
  for (const p of SYSTEM_PROPERTIES) delete copy[p];
  return copy;
}

function requireKey() {
  const key = process.env.COSMOS_KEY;
  if (!key) throw new Error("COSMOS_KEY is not set");
  return key;
}

module.exports = { makeClient, withoutSystemProperties, requireKey };
