#include "service/RestoreWrite.h"

#include "format/DataFiles.h"
#include "format/RestoreProgress.h"
#include "service/FailureReport.h"
#include "support/Interruption.h"
#include "support/Progress.h"
#include "support/ToolError.h"

#include <chrono>
#include <cstdio>
#include <vector>

namespace cosmosbackup {
namespace {

constexpr long long kSessionTokenCode = -3;
// A position is recorded at least this often within a data file.
constexpr std::int64_t kItemsPerRecord = 20000;
// ... and at the end of a file, unless the last record is younger than this and fewer items
// than the second bound followed it (a chain's many small files would otherwise each wait for
// every write in flight).
constexpr std::chrono::milliseconds kRecordInterval{1000};
constexpr std::int64_t kItemsPerFileEndRecord = 500;

std::string Target(const RestoreItemsOptions& o) { return o.database + "/" + o.container; }
std::string Key(const RestoreItemsOptions& o) { return ProgressKey(o); }

}  // namespace

std::string SessionToken(Connection& connection) {
    std::vector<CloudSDKCppBridge::SString> texts;
    connection.Require(connection.bridge().GetCosmosDBTokens(kSessionTokenCode, texts), "cannot read the session token");
    return texts.empty() ? std::string() : texts[0].strValue;
}

namespace {

// Records the position; a backup location that cannot take the record (read-only media) does
// not stop the restore, which then cannot be resumed: the user is told once.
class ProgressRecorder {
public:
    explicit ProgressRecorder(BackupStore& store) : m_store(store) {}

    void Write(const RestoreProgress& progress) {
        if (!m_working) return;
        try {
            WriteRestoreProgress(m_store, progress);
        } catch (const ToolError& e) {
            m_working = false;
            std::fprintf(stderr, "note: the restore's progress cannot be recorded (%s); an interrupted restore will not resume\n", e.what());
        }
    }

private:
    BackupStore& m_store;
    bool m_working = true;
};

// Feeds the wrapper, confirms, and records positions: all writes before a recorded position
// were confirmed by a flush.
class ResumableWriter {
public:
    ResumableWriter(Connection& connection, const RestoreItemsOptions& options, RestoreProgress& progress, Progress& display,
                    ProgressRecorder& recorder, FailureReport& failures)
        : m_connection(connection), m_options(options), m_progress(progress), m_display(display), m_recorder(recorder),
          m_failures(failures) {
        m_chunk.reserve(options.itemsPerCall);
    }

    void Add(const std::string& item) {
        m_chunk.push_back(CloudSDKCppBridge::SString{item});
        if (m_chunk.size() >= m_options.itemsPerCall) Send();
        ++m_progress.itemsInFile;
        ++m_progress.itemsDone;
        if (++m_sinceRecord >= kItemsPerRecord) Record();
        StopIfAsked();
    }

    // Asked to stop (also while the last writes were confirmed): what was sent is confirmed and
    // recorded, the run ends with the command that continues.
    void StopIfAsked() {
        if (InterruptSignal() == 0) return;
        Record();
        StopIfInterrupted("; " + std::to_string(m_progress.itemsDone) + " items are recorded as written; to continue, run: " +
                          m_options.resumeCommand);
    }

    // The current file is written whole. Recorded at once unless a record was made moments ago
    // and few items followed it: a source of many small files (a chain's links) would otherwise
    // wait for every write in flight, and sync a record, once per file.
    void EndOfFile() {
        ++m_progress.filesDone;
        m_progress.itemsInFile = 0;
        if (m_sinceRecord >= kItemsPerFileEndRecord || std::chrono::steady_clock::now() - m_lastRecord >= kRecordInterval) Record();
    }

    // Everything sent up to here is confirmed by a flush; then the position is recorded.
    void Record() {
        Send();
        Require(m_connection.bridge().FlushCosmosDBRestore(), "restore into " + Target(m_options) + " failed");
        m_written += m_sinceRecord;
        m_sinceRecord = 0;
        m_progress.sessionToken = SessionToken(m_connection);
        // The refusals up to here are in the report before the position past them is recorded.
        m_failures.Collect(m_connection);
        m_progress.failureReport = m_failures.place();
        m_progress.itemsRefused = m_failures.count();
        m_recorded = m_progress.itemsDone;
        m_recorder.Write(m_progress);
        m_lastRecord = std::chrono::steady_clock::now();
    }

    std::int64_t written() const { return m_written; }
    std::int64_t recorded() const { return m_recorded; }

    // Waits for the writes in flight without recording them: after a fault in the data they
    // came from, the resumed restore writes them again from the repaired file.
    void Drain() { m_connection.bridge().FlushCosmosDBRestore(); }

private:
    void Send() {
        if (m_chunk.empty()) return;
        Require(m_connection.bridge().AddCosmosDBRestoreItems(m_chunk), "restore into " + Target(m_options) + " failed");
        m_display.Add(static_cast<std::int64_t>(m_chunk.size()));
        m_chunk.clear();
    }

    void Require(bool ok, const std::string& what) {
        if (ok) return;
        const std::string why = m_connection.bridge().GetLastErrorString();
        throw ToolError(what + (why.empty() ? "" : ": " + why) + "; " + std::to_string(m_recorded) +
                        " items are recorded as written; to continue, run: " + m_options.resumeCommand);
    }

    Connection& m_connection;
    const RestoreItemsOptions& m_options;
    RestoreProgress& m_progress;
    Progress& m_display;
    ProgressRecorder& m_recorder;
    FailureReport& m_failures;
    std::vector<CloudSDKCppBridge::SString> m_chunk;
    std::int64_t m_sinceRecord = 0;
    std::int64_t m_written = 0;
    std::int64_t m_recorded = m_progress.itemsDone;
    std::chrono::steady_clock::time_point m_lastRecord = std::chrono::steady_clock::now();
};

// The files written, in order: the options' sources, else the manifest's files in the store.
std::vector<SourceFile> FilesToWrite(const Manifest& manifest, const RestoreItemsOptions& o) {
    if (!o.sources.empty()) return o.sources;
    std::vector<SourceFile> files;
    for (const auto& file : manifest.files) files.push_back(SourceFile{o.store, file});
    return files;
}

// A resumed run shows its filter the files written before, as the interrupted run did.
void ReplayFilter(const std::vector<SourceFile>& files, std::size_t filesDone, const RestoreItemsOptions& o) {
    if (!o.keep) return;
    for (std::size_t i = 0; i < filesDone && i < files.size(); ++i) {
        ForEachItemIn(*files[i].store, files[i].file, [&](const std::string& item) { o.keep(item); });
    }
}

}  // namespace

std::string ProgressKey(const RestoreItemsOptions& o) { return o.progressKey.empty() ? Target(o) : o.progressKey; }

RestoreStart BeginRestore(const Manifest& manifest, const RestoreItemsOptions& o, bool targetExists) {
    auto recorded = ReadRestoreProgress(*o.store, Key(o));
    // A run that stopped before its target was created left nothing to go on with.
    if (recorded && !recorded->created && !targetExists) recorded.reset();
    const bool sameBackup = recorded && recorded->backupCreatedAt == manifest.createdAt;
    RestoreStart start;
    if (o.resume && recorded) {
        if (recorded->endpoint != o.endpoint) {
            throw ToolError("the restore recorded for " + Target(o) + " in " + o.store->Describe() + " was into the account at " +
                            (recorded->endpoint.empty() ? std::string("an unrecorded endpoint") : recorded->endpoint) + ", not " +
                            o.endpoint + "; restore into this account without --resume");
        }
        if (!sameBackup) {
            throw ToolError("the restore recorded for " + Target(o) + " was of another backup (made " + recorded->backupCreatedAt + ")");
        }
        if (recorded->filesDone > FilesToWrite(manifest, o).size()) throw ToolError("the restore recorded for " + Target(o) + " is past the backup's end");
        start.progress = *recorded;
        start.resumed = true;
        return start;
    }
    // Also a finished one: its run may have been killed before the scripts or the count.
    if (!o.resume && !o.intoExisting && sameBackup && recorded->endpoint == o.endpoint) {
        throw ToolError("a restore of this backup into " + Target(o) + " was begun (" + std::to_string(recorded->itemsDone) +
                        " items written; --into-existing starts over); to continue it, run: " + o.resumeCommand);
    }
    auto& fresh = start.progress;
    fresh.endpoint = o.endpoint;
    fresh.target = Key(o);
    fresh.backupCreatedAt = manifest.createdAt;
    fresh.throughput = o.throughput;
    fresh.autoscaleMax = o.autoscaleMax;
    fresh.noThroughput = o.noThroughput;
    return start;
}

void RecordBeginning(BackupStore& store, RestoreProgress start) {
    start.created = false;
    // A location that cannot take the record (read-only media) is noted when the items are written.
    try {
        WriteRestoreProgress(store, start);
    } catch (const ToolError&) {
    }
}

std::string RecordedSessionToken(const BackupStore& store, const std::string& endpoint, const std::string& database,
                                 const std::string& container) {
    return RecordedSessionTokenOf(store, endpoint, database + "/" + container);
}

std::string RecordedSessionTokenOf(const BackupStore& store, const std::string& endpoint, const std::string& progressKey) {
    const auto recorded = ReadRestoreProgress(store, progressKey);
    return recorded && recorded->endpoint == endpoint ? recorded->sessionToken : std::string();
}

RestoredItems RestoreItemsResumably(Connection& connection, const Manifest& manifest, const RestoreItemsOptions& o,
                                    RestoreProgress start) {
    auto& bridge = connection.bridge();
    RestoreProgress progress = std::move(start);
    progress.created = true;  // the target exists by now
    RestoredItems result;
    result.skipped = progress.itemsDone;
    // Reads after the restore must see the earlier run's writes as well.
    connection.Require(bridge.OpenCosmosDBContainer("", o.database, false, o.container,
                                                    progress.sessionToken.empty() ? "" : ";sessionToken=" + progress.sessionToken),
                       "cannot open " + Target(o));
    FailureReport failures(o.failureReport, Target(o), progress.failureReport, progress.itemsRefused);
    failures.CheckWritable();
    progress.failureReport = failures.place();
    connection.Require(bridge.StartCosmosDBRestore(o.parallelism, Target(o)), "cannot start restoring into " + Target(o));
    ProgressRecorder recorder(*o.store);
    recorder.Write(progress);

    Progress display("restore", o.itemsToWrite >= 0 ? o.itemsToWrite : manifest.itemCount, o.progress);
    display.Add(progress.itemsDone);
    ResumableWriter writer(connection, o, progress, display, recorder, failures);
    const std::vector<SourceFile> files = FilesToWrite(manifest, o);
    ReplayFilter(files, progress.filesDone, o);
    for (std::size_t i = progress.filesDone; i < files.size(); ++i) {
        const BackupStore& store = *files[i].store;
        std::int64_t skip = progress.itemsInFile;  // written by the interrupted run
        const auto add = [&](const std::string& item) {
            if (o.keep && !o.keep(item)) return;
            if (skip > 0) {
                --skip;
                return;
            }
            writer.Add(item);
        };
        if (!o.checkWhileReading) {
            ForEachItemIn(store, files[i].file, add);
        } else {
            try {
                ForEachCheckedItemIn(store, files[i].file, add);
            } catch (const ToolError& e) {
                // A fault found on the way: what was confirmed before it stays recorded.
                if (std::string(e.what()).find(o.resumeCommand) != std::string::npos) throw;
                writer.Drain();
                throw ToolError(std::string(e.what()) + "; the restore stopped there with " + std::to_string(writer.recorded()) +
                                " items recorded as written; once the backup is repaired, continue with: " + o.resumeCommand);
            }
        }
        writer.EndOfFile();
    }
    writer.Record();
    writer.StopIfAsked();
    result.seconds = display.Finish();
    result.written = writer.written();
    failures.Collect(connection);
    result.failed = failures.count();
    result.failedBefore = failures.countBefore();
    result.reportPath = failures.path();
    progress.failureReport = failures.place();
    progress.itemsRefused = failures.count();
    progress.finished = true;
    recorder.Write(progress);
    result.usage = ReadUsage(connection);
    return result;
}

}  // namespace cosmosbackup
