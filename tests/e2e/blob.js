// A few direct Blob service calls the storage tests need besides the tool, signed with the
// shared key: create a container, download every blob under a prefix, upload a directory's
// files under one, overwrite one blob.
// Environment: STORAGE_ENDPOINT (path-style, http://127.0.0.1:PORT), STORAGE_ACCOUNT,
// AZURE_STORAGE_KEY (as with-azurite.sh exports them).
// Usage: node blob.js create-container CONTAINER
//        node blob.js download CONTAINER PREFIX DIR
//        node blob.js wait-for CONTAINER PREFIX NAME_START   (until such a blob exists)
//        node blob.js upload DIR CONTAINER PREFIX
//        node blob.js flip-byte CONTAINER BLOB
//        node blob.js rot-byte CONTAINER BLOB   (flips a byte but keeps the blob's stored MD5, as
//                                               bytes that went bad at rest)
//        node blob.js sas EXPIRY   (prints an account SAS token: blobs, read/write/delete/list)
'use strict';
const crypto = require('crypto');
const fs = require('fs');
const path = require('path');

const endpoint = process.env.STORAGE_ENDPOINT;
const account = process.env.STORAGE_ACCOUNT;
const key = Buffer.from(process.env.AZURE_STORAGE_KEY || '', 'base64');

async function call(method, resource, query = {}, body = null, extraHeaders = {}, answer = null) {
  const headers = { 'x-ms-date': new Date().toUTCString(), 'x-ms-version': '2021-08-06', ...extraHeaders };
  const length = body ? body.length : 0;
  const names = Object.keys(headers).filter((h) => h.startsWith('x-ms-')).sort();
  const canonicalQuery = Object.keys(query).sort().map((k) => `\n${k}:${query[k]}`).join('');
  const toSign = [method, '', '', length ? String(length) : '', '', '', '', '', '', '', '', '']
    .join('\n') + '\n' + names.map((h) => `${h}:${headers[h]}\n`).join('') +
    `/${account}/${account}/${resource}${canonicalQuery}`;
  headers.Authorization = `SharedKey ${account}:` + crypto.createHmac('sha256', key).update(toSign, 'utf8').digest('base64');
  const search = new URLSearchParams(query).toString();
  const response = await fetch(`${endpoint}/${account}/${resource}${search ? '?' + search : ''}`,
    { method, headers, body });
  if (!response.ok) throw new Error(`${method} ${resource}: HTTP ${response.status}`);
  if (answer) answer.headers = response.headers;
  return Buffer.from(await response.arrayBuffer());
}

async function main() {
  const [command, container, ...rest] = process.argv.slice(2);
  if (command === 'create-container') {
    await call('PUT', container, { restype: 'container' });
  } else if (command === 'download') {
    const [prefix, dir] = rest;
    const list = (await call('GET', container, { comp: 'list', prefix: prefix + '/', restype: 'container' })).toString();
    for (const [, name] of list.matchAll(/<Name>([^<]*)<\/Name>/g)) {
      fs.writeFileSync(path.join(dir, name.slice(prefix.length + 1)), await call('GET', `${container}/${name}`));
    }
  } else if (command === 'wait-for') {
    // Until a blob named PREFIX/NAME_START... exists (every 50 ms, at most 60 s).
    const [prefix, start] = rest;
    for (let tries = 0; ; ++tries) {
      const list = (await call('GET', container, { comp: 'list', prefix: `${prefix}/${start}`, restype: 'container' })).toString();
      if (/<Name>/.test(list)) break;
      if (tries > 1200) throw new Error(`no blob ${prefix}/${start}… appeared`);
      await new Promise((resolve) => setTimeout(resolve, 50));
    }
  } else if (command === 'upload') {
    const [dir, target, prefix] = [container, ...rest];
    for (const name of fs.readdirSync(dir)) {
      await call('PUT', `${target}/${prefix}/${name}`, {}, fs.readFileSync(path.join(dir, name)), { 'x-ms-blob-type': 'BlockBlob' });
    }
  } else if (command === 'sas') {
    const expiry = container;
    const toSign = [account, 'rwdl', 'b', 'sco', '', expiry, '', '', '2019-12-12', ''].join('\n');
    const signature = crypto.createHmac('sha256', key).update(toSign, 'utf8').digest('base64');
    console.log(`sv=2019-12-12&ss=b&srt=sco&sp=rwdl&se=${expiry}&sig=${encodeURIComponent(signature)}`);
  } else if (command === 'flip-byte') {
    const data = await call('GET', `${container}/${rest[0]}`);
    data[data.length >> 1] ^= 0x01;
    await call('PUT', `${container}/${rest[0]}`, {}, data, { 'x-ms-blob-type': 'BlockBlob' });
  } else if (command === 'rot-byte') {
    const answer = {};
    const data = await call('GET', `${container}/${rest[0]}`, {}, null, {}, answer);
    const md5 = answer.headers.get('content-md5');
    data[data.length >> 1] ^= 0x01;
    await call('PUT', `${container}/${rest[0]}`, {}, data, { 'x-ms-blob-type': 'BlockBlob' });
    await call('PUT', `${container}/${rest[0]}`, { comp: 'properties' }, null, { 'x-ms-blob-content-md5': md5 });
  } else {
    throw new Error('unknown command ' + command);
  }
}

main().catch((e) => { console.error(e.message); process.exit(1); });
