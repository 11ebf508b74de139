#!/usr/bin/env node
"use strict";
// Runs a command against a fresh scripted server (a child process of this one): starts
// server.js with the given options on a free port of 127.0.0.1, exports COSMOS_ENDPOINT,
// COSMOS_KEY and COSMOS_SERVER_PID to the command, and stops the server when the command
// ends, whatever happens. Exits with the command's status. The server's output goes to
// $SCRIPTED_SERVER_LOG when that is set.
// Usage: with-scripted-server.js [SERVER OPTION...] -- COMMAND [ARG...]
const fs = require("fs");
const path = require("path");
const readline = require("readline");
const { spawn } = require("child_process");
const { EMULATOR_KEY } = require("./client");

const argv = process.argv.slice(2);
const split = argv.indexOf("--");
if (split < 0 || split === argv.length - 1) {
  process.stderr.write("usage: with-scripted-server.js [SERVER OPTION...] -- COMMAND [ARG...]\n");
  process.exit(2);
}
const serverArgs = argv.slice(0, split);
const [command, ...commandArgs] = argv.slice(split + 1);
const key = process.env.COSMOS_KEY || EMULATOR_KEY;
const log = process.env.SCRIPTED_SERVER_LOG ? fs.openSync(process.env.SCRIPTED_SERVER_LOG, "a") : "inherit";

const server = spawn(process.execPath, [path.join(__dirname, "server.js"), "--port", "0", ...serverArgs], {
  stdio: ["ignore", "pipe", log], env: { ...process.env, COSMOS_KEY: key },
});
const stopServer = () => {
  if (server.exitCode === null && server.signalCode === null) server.kill("SIGTERM");
};
process.on("exit", stopServer);
server.on("exit", (code) => {
  if (!started) {
    process.stderr.write(`scripted server did not start (status ${code})\n`);
    process.exit(1);
  }
});

let started = false;
readline.createInterface({ input: server.stdout }).on("line", (line) => {
  const m = /^listening (\d+)$/.exec(line);
  if (!m || started) return;
  started = true;
  const scheme = serverArgs.includes("--no-ssl") ? "http" : "https";
  const env = { ...process.env, COSMOS_ENDPOINT: `${scheme}://127.0.0.1:${m[1]}`, COSMOS_KEY: key, COSMOS_SERVER_PID: String(server.pid) };
  const child = spawn(command, commandArgs, { stdio: "inherit", env });
  child.on("error", (err) => {
    process.stderr.write(`${command}: ${err.message}\n`);
    process.exit(127);
  });
  child.on("exit", (code, signal) => process.exit(code !== null ? code : 128 + (require("os").constants.signals[signal] || 0)));
});
for (const sig of ["SIGINT", "SIGTERM"]) process.on(sig, () => process.exit(130));
