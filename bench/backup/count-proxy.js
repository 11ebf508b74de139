#!/usr/bin/env node
"use strict";
// A plain TCP proxy on 127.0.0.1 that counts the bytes the server sends back, for the bytes a
// restore downloads from blob storage.
//   count-proxy.js TARGET_PORT COUNT_FILE   prints "listening PORT"; writes the count to
//   COUNT_FILE whenever a connection closes.
const net = require("net");
const fs = require("fs");
const [targetPort, countFile] = process.argv.slice(2);
let received = 0;
const server = net.createServer((client) => {
  const upstream = net.connect(Number(targetPort), "127.0.0.1");
  upstream.on("data", (chunk) => {
    received += chunk.length;
  });
  client.pipe(upstream).pipe(client);
  const done = () => fs.writeFileSync(countFile, String(received));
  upstream.on("close", () => { client.destroy(); done(); });
  client.on("close", () => upstream.destroy());
  upstream.on("error", () => client.destroy());
  client.on("error", () => upstream.destroy());
});
server.listen(0, "127.0.0.1", () => console.log(`listening ${server.address().port}`));
