"use strict";
// The account's resources: databases and containers (kept with every property they were
// created with), their offers, and each container's scripts, ranges and items.
const crypto = require("crypto");
const { OfferStore } = require("../fixture/offers");
const pk = require("./partition-key");
const { RangeTable } = require("./ranges");
const { ItemStore } = require("./items");

const { BadRequest } = pk;
const FORBIDDEN_NAME = /[/\\?#]/;
const SERVERLESS_CREATE = "Setting offer throughput or autopilot on container is not supported for serverless accounts.";

const newRid = () => crypto.randomBytes(6).toString("base64").replace(/\//g, "-").replace(/\+/g, "_");
const newEtag = () => `"${crypto.randomUUID()}"`;
const now = () => Math.floor(Date.now() / 1000);

function checkName(body, what) {
  if (!body || typeof body !== "object" || typeof body.id !== "string" || body.id.length === 0) {
    throw new BadRequest(`The ${what} needs a text id.`);
  }
  if (body.id.length > 255 || FORBIDDEN_NAME.test(body.id) || body.id.endsWith(" ")) {
    throw new BadRequest(`The ${what} id ${JSON.stringify(body.id)} contains an invalid character or is too long.`);
  }
}

class Container {
  // `earlier`: the container of the same name this one replaces (deleted and re-created).
  constructor(database, resource, paths, rangeCount, earlier = null) {
    this.database = database;
    this.resource = resource;
    this.paths = paths;
    this.rid = resource._rid;
    this.self = resource._self;
    this.systemKey = resource.partitionKey.systemKey === true;
    this.hierarchical = resource.partitionKey.kind === "MultiHash" && paths.length > 1;
    this.table = new RangeTable(rangeCount, resource._rid, 32 * paths.length, earlier ? earlier.table : null);
    this.listings = 0; // partition key range lists served, for the boundary forms
    this.items = new ItemStore(this);
    this.scripts = { sprocs: new Map(), triggers: new Map(), udfs: new Map() };
  }

  get name() {
    return `${this.database.resource.id}/${this.resource.id}`;
  }
}

class Account {
  constructor(options) {
    this.options = options; // { ranges, serverless, ... } read at each create
    this.databases = new Map(); // id -> { resource, containers: Map id -> Container }
    this.offers = new OfferStore();
  }

  // The throughput a create asks for, refused on a serverless account.
  requestedOffer(headers) {
    let content;
    try {
      content = OfferStore.requested({ headers });
    } catch (err) {
      throw new BadRequest(err.message);
    }
    if (content && this.options.serverless) throw new BadRequest(SERVERLESS_CREATE);
    return content;
  }

  database(id) {
    const db = this.databases.get(id);
    if (!db) throw new BadRequest(`Database ${id} does not exist.`, 404, "NotFound");
    return db;
  }

  container(dbId, id) {
    const c = this.database(dbId).containers.get(id);
    if (!c) throw new BadRequest(`Container ${dbId}/${id} does not exist.`, 404, "NotFound");
    return c;
  }

  createDatabase(body, headers) {
    checkName(body, "database");
    const content = this.requestedOffer(headers);
    if (this.databases.has(body.id)) throw new BadRequest("Resource with specified id or name already exists.", 409, "Conflict");
    const rid = newRid();
    const resource = { ...body, _rid: rid, _self: `dbs/${rid}/`, _etag: newEtag(), _colls: "colls/", _users: "users/", _ts: now() };
    this.databases.set(body.id, { resource, containers: new Map(), deleted: new Map() });
    if (content) this.offers.create(resource, content);
    return resource;
  }

  deleteDatabase(id) {
    const db = this.database(id);
    this.offers.removeFor(db.resource._self);
    this.databases.delete(id);
  }

  createContainer(dbId, body, headers) {
    const db = this.database(dbId);
    checkName(body, "container");
    const paths = pk.parseDefinition(body.partitionKey, headers["x-ms-version"]);
    if (body.defaultTtl !== undefined && !(body.defaultTtl === -1 || (Number.isInteger(body.defaultTtl) && body.defaultTtl > 0))) {
      throw new BadRequest("The value of defaultTtl must be -1 or a positive number of seconds.");
    }
    const content = this.requestedOffer(headers);
    if (db.containers.has(body.id)) throw new BadRequest("Resource with specified id or name already exists.", 409, "Conflict");
    const rid = newRid();
    const resource = {
      indexingPolicy: {
        indexingMode: "consistent", automatic: true, includedPaths: [{ path: "/*" }], excludedPaths: [{ path: '/"_etag"/?' }],
      },
      conflictResolutionPolicy: { mode: "LastWriterWins", conflictResolutionPath: "/_ts", conflictResolutionProcedure: "" },
      geospatialConfig: { type: "Geography" },
      ...body,
      _rid: rid,
      _ts: now(),
      _self: `${db.resource._self}colls/${rid}/`,
      _etag: newEtag(),
      _docs: "docs/",
      _sprocs: "sprocs/",
      _triggers: "triggers/",
      _udfs: "udfs/",
      _conflicts: "conflicts/",
    };
    const container = new Container(db, resource, paths, this.options.ranges, db.deleted.get(body.id));
    db.containers.set(body.id, container);
    if (content) this.offers.create(resource, content);
    return resource;
  }

  deleteContainer(dbId, id, ifMatch) {
    const c = this.container(dbId, id);
    if (ifMatch && ifMatch !== c.resource._etag) throw new BadRequest("One of the specified pre-condition is not met", 412, "PreconditionFailed");
    this.offers.removeFor(c.self);
    c.database.containers.delete(id);
    c.database.deleted.set(id, c);
  }
}

module.exports = { Account, Container, newRid, newEtag };
