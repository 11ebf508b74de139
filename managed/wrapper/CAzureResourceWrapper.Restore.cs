// Restore and administration: create databases and containers, run a restore, restore
// scripts, remove triggers or containers, change throughput. "The current container" below
// is the target of the running restore, or else the open container.
using System;
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    public partial class CAzureResourceWrapper
    {
        private const int DefaultRestoreParallelism = 16;
        // Also the connection limit and the pool's thread minimum set at start-up.
        private const int MaxRestoreParallelism = 64;

        private RestoreSession m_restore;

        private ContainerRef Current()
        {
            lock (m_lock)
            {
                if (m_restore != null) return m_restore.Container;
            }
            return Open();
        }

        private RestoreSession Restore()
        {
            lock (m_lock)
            {
                if (m_restore == null) throw new CosmosException(0, "No restore is running: call StartCosmosDBRestore first.");
                return m_restore;
            }
        }

        // strIn1: account; strIn2: database; bOption1: fail when it exists already; strIn3:
        // unused, must be ""; nIn1: fixed throughput RU/s (0 for none); nIn2: autoscale
        // maximum RU/s (0 for none); bOption2: unused.
        public override bool CreateCosmosDBDatabase(string strIn1, string strIn2, bool bOption1, string strIn3, int nIn1, int nIn2, bool bOption2)
        {
            return Run(() =>
            {
                CheckAccount(strIn1);
                if (!string.IsNullOrEmpty(strIn3)) throw new CosmosException(0, "The third text of CreateCosmosDBDatabase is unused and must be empty.");
                var request = ResourcePath.Root.Feed("POST", "dbs", "create database [" + strIn2 + "]")
                    .WithJson(Json.Compact(new JObject { ["id"] = strIn2 }));
                ThroughputInfo.AddCreateHeaders(request, nIn1, nIn2);
                var response = Service().Send(request);
                if (response.Status == 409 && !bOption1) return true;
                if (!response.Ok) throw CosmosService.Failure(request, response);
                return true;
            });
        }

        // strIn1: account; strIn2: database; bOption1: fail when it exists already; strIn3:
        // container; strIn4: partition key definition (JSON, e.g. {"paths":["/k"],"kind":"Hash",
        // "version":2}; "" to take the one of a whole definition in strIn5); strIn5: indexing
        // policy (JSON, "" for the service's default), or a whole container definition (a JSON
        // object with a "partitionKey", as ObtainContainerStatistics gives it), created as it
        // is with its id replaced by strIn3; nValue1: in, fixed RU/s (> 0), an autoscale
        // maximum as a negative number, or 0 for none; out, the container's own throughput in
        // effect in the same form (0 when it has none); nValue2: in and out, the default time
        // to live (0 off, or with a whole definition: as the definition says; -1 on without
        // default, else seconds); bOption2: open the container afterwards (it becomes the
        // current container).
        public override bool CreateCosmosDBContainer(string strIn1, string strIn2, bool bOption1, string strIn3, string strIn4, string strIn5, ref int nValue1, ref int nValue2, bool bOption2)
        {
            int throughput = nValue1, ttl = nValue2;
            bool ok = Run(() =>
            {
                CheckAccount(strIn1);
                var body = ContainerBody(strIn3, strIn4, strIn5);
                if (ttl != 0) body["defaultTtl"] = ttl;
                var request = ResourcePath.Database(strIn2).Feed("POST", "colls", "create container [" + strIn2 + "/" + strIn3 + "]")
                    .WithJson(Json.Compact(body));
                ThroughputInfo.AddCreateHeaders(request, Math.Max(throughput, 0), throughput < 0 ? -throughput : 0);
                var response = Service().Send(request);
                if (!(response.Status == 409 && !bOption1) && !response.Ok) throw CosmosService.Failure(request, response);
                var c = ReadContainerRef(strIn2, strIn3);
                throughput = ThroughputLayout.Of(Service(), c).OwnSigned;
                var t = c.Properties["defaultTtl"];
                ttl = t != null && t.Type == JTokenType.Integer ? (int)t : 0;
                if (bOption2)
                {
                    var ranges = ReadRanges(c);
                    lock (m_lock)
                    {
                        m_open = c;
                        SetRanges(ranges, true);
                    }
                }
                return true;
            });
            if (ok)
            {
                nValue1 = throughput;
                nValue2 = ttl;
            }
            return ok;
        }

        private static JObject ContainerBody(string id, string partitionKey, string policyOrDefinition)
        {
            var given = string.IsNullOrEmpty(policyOrDefinition) ? null : Json.ParseObject(policyOrDefinition, "The indexing policy or container definition");
            JObject body;
            if (given != null && ContainerDefinition.IsWhole(given)) body = ContainerDefinition.ForCreate(given, id);
            else
            {
                body = new JObject { ["id"] = id };
                if (given != null) body["indexingPolicy"] = given;
            }
            if (!string.IsNullOrEmpty(partitionKey) || body["partitionKey"] == null)
                body["partitionKey"] = Json.ParseObject(partitionKey ?? "", "The partition key definition");
            return body;
        }

        // strIn1: account; strIn2: database; bOption: a missing container counts as removed;
        // strIn3: container; strIn4: its expected _etag ("" to remove whatever it is).
        public override bool RemoveCosmosDBContainer(string strIn1, string strIn2, bool bOption, string strIn3, string strIn4)
        {
            return Run(() =>
            {
                CheckAccount(strIn1);
                var request = ResourcePath.Container(strIn2, strIn3).On("DELETE", "colls", "remove container [" + strIn2 + "/" + strIn3 + "]");
                if (!string.IsNullOrEmpty(strIn4)) request.Headers["If-Match"] = strIn4;
                var response = Service().Send(request);
                if (response.Status == 404 && bOption) return true;
                if (!response.Ok) throw CosmosService.Failure(request, response);
                lock (m_lock)
                {
                    if (m_open != null && m_open.Database == strIn2 && m_open.Name == strIn3) m_open = null;
                    if (m_restore != null && m_restore.Container.Database == strIn2 && m_restore.Container.Name == strIn3) m_restore = null;
                }
                return true;
            });
        }

        // nIn: most write requests in flight (0 for 16); strIn: the target as
        // "database/container" ("" for the open container), which must exist, optionally
        // followed by "?delete": the items added are then keys of items to delete (see
        // RestoreSession.Deletions). Replaces an earlier restore, whose unflushed items are dropped.
        public override bool StartCosmosDBRestore(int nIn, string strIn)
        {
            return Run(() =>
            {
                if (nIn < 0 || nIn > MaxRestoreParallelism) throw new CosmosException(0, "Restore parallelism must be from 0 to " + MaxRestoreParallelism + ".");
                bool deletions = RestoreSession.TakeDeletionsMark(ref strIn);
                ContainerRef target;
                if (string.IsNullOrEmpty(strIn)) target = Open();
                else
                {
                    int slash = strIn.IndexOf('/');
                    if (slash <= 0 || slash == strIn.Length - 1) throw new CosmosException(0, "The restore target [" + strIn + "] is not database/container.");
                    target = ReadContainerRef(strIn.Substring(0, slash), strIn.Substring(slash + 1));
                }
                bool batches, reportItems;
                lock (m_lock)
                {
                    batches = m_connected.RestoreBatches;
                    reportItems = m_connected.ReportItemFailures;
                }
                var session = new RestoreSession(Service(), target, nIn == 0 ? DefaultRestoreParallelism : nIn, batches, reportItems);
                if (deletions) session.DeleteInstead();
                lock (m_lock) m_restore = session;
                return true;
            });
        }

        // items: a list made by CCloudWrapperFactory.CreateSStringLibList, one item (JSON) per
        // element. Stops at the first item that is refused.
        public override bool AddCosmosDBRestoreItems(object items)
        {
            return Run(() =>
            {
                var list = items as SStringLibList;
                if (list == null) throw new CosmosException(0, "AddCosmosDBRestoreItems takes a list made by CreateSStringLibList.");
                var session = Restore();
                foreach (var element in list.Items)
                {
                    string error;
                    if (!session.Add(element.strValue, out error)) throw new CosmosException(0, error);
                }
                return true;
            });
        }

        // strItem: one item as JSON; queued for writing (waits while the writes in flight are
        // at their bound). False when the item is refused or an earlier write failed.
        public override bool AddCosmosDBRestoreItem(string strItem)
        {
            return Run(() =>
            {
                string error;
                if (!Restore().Add(strItem, out error)) throw new CosmosException(0, error);
                return true;
            });
        }

        // Sends what is gathered and waits for every write; false when any item failed.
        public override bool FlushCosmosDBRestore()
        {
            return Run(() =>
            {
                string failure = Restore().Flush();
                if (failure != null) throw new CosmosException(0, failure);
                return true;
            });
        }

        // strIn: scripts as BackupAttachedScripts gives them; bOption: replace scripts that
        // exist already (otherwise they fail the call). Into the current container.
        public override bool RestoreAttachedScripts(string strIn, bool bOption)
        {
            return Run(() =>
            {
                ScriptSet.Write(Service(), Current(), Json.ParseObject(strIn, "The scripts"), bOption);
                return true;
            });
        }

        // Removes every trigger of the current container.
        public override bool RemoveAllTriggers()
        {
            return Run(() =>
            {
                ScriptSet.RemoveTriggers(Service(), Current());
                return true;
            });
        }

        // nIn1: the new throughput, fixed RU/s (> 0) or a negative autoscale maximum; nIn2: 0
        // for the current container's own offer, 1 for its database's; nOut: the throughput
        // before the change, in the same form.
        public override bool ChangeCosmosDBThroughput(int nIn1, int nIn2, ref int nOut)
        {
            int previous = 0;
            bool ok = Run(() =>
            {
                if (nIn1 == 0) throw new CosmosException(0, "The new throughput must not be 0.");
                if (nIn2 != 0 && nIn2 != 1) throw new CosmosException(0, "The throughput scope must be 0 (container) or 1 (database).");
                var c = Current();
                string rid = c.Rid, what = "container [" + c + "]";
                if (nIn2 == 1)
                {
                    var db = Service().ReadDatabase(c.Database);
                    if (db == null) throw new CosmosException(404, "Database [" + c.Database + "] does not exist.");
                    rid = (string)db["_rid"];
                    what = "database [" + c.Database + "]";
                }
                var offer = Service().FindOffer(rid);
                if (offer == null) throw new CosmosException(404, "The " + what + " has no throughput of its own.");
                var before = ThroughputInfo.Of(offer);
                previous = before.AutoscaleMax > 0 ? -before.AutoscaleMax : before.Manual;
                // The service refuses a replace that changes between fixed and autoscale: the
                // migration is a request of its own, after which the new value is set.
                bool toAutoscale = nIn1 < 0;
                if (toAutoscale != (before.AutoscaleMax > 0)) offer = Service().MigrateOffer(offer, toAutoscale);
                var content = new JObject();
                if (nIn1 > 0) content["offerThroughput"] = nIn1;
                else content["offerAutopilotSettings"] = new JObject { ["maxThroughput"] = -nIn1 };
                offer["content"] = content;
                Service().ReplaceOffer(offer);
                return true;
            });
            if (ok) nOut = previous;
            return ok;
        }
    }
}
