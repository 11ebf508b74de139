#!/usr/bin/env node
"use strict";
// An HTTP proxy on 127.0.0.1 in front of a blob storage server that counts the bytes a client
// downloads: the bodies of GET answers, all of them and those of data files (items-*) apart.
//   count-proxy.js TARGET_PORT COUNT_FILE   prints "listening PORT"; after each answer writes
//   {"all","dataFiles"} to COUNT_FILE.
const http = require("http");
const fs = require("fs");
const [targetPort, countFile] = process.argv.slice(2);
const counted = { all: 0, dataFiles: 0 };
const server = http.createServer((req, res) => {
  const upstream = http.request({ host: "127.0.0.1", port: Number(targetPort), method: req.method, path: req.url, headers: req.headers }, (answer) => {
    res.writeHead(answer.statusCode, answer.headers);
    answer.on("data", (chunk) => {
      if (req.method !== "GET") return;
      counted.all += chunk.length;
      if (/\/items-[^/?]*$/.test(req.url.split("?")[0])) counted.dataFiles += chunk.length;
    });
    answer.on("end", () => fs.writeFileSync(countFile, JSON.stringify(counted)));
    answer.pipe(res);
  });
  upstream.on("error", () => res.destroy());
  req.pipe(upstream);
});
server.listen(0, "127.0.0.1", () => console.log(`listening ${server.address().port}`));
