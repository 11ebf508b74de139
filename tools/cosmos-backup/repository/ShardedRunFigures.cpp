#include "repository/ShardedRunFigures.h"

#include "account/AccountManifest.h"
#include "format/LocationLayout.h"
#include "format/Manifest.h"

#include <algorithm>

namespace cosmosbackup {
namespace {

// A manifest's figures; one that recorded none (-1) counts nothing.
RunRecord::Figures FiguresOf(const Manifest& manifest) { return {std::max(0.0, manifest.requestCharge), std::max(0.0, manifest.seconds)}; }

}  // namespace

void NoteShardedRunFigures(const Repository& repository, RunRecord& record) {
    const auto store = repository.OpenBackup(record.id);
    if (!record.account) {
        const auto figures = FiguresOf(ReadManifest(*store));
        record.requestCharge = figures.requestCharge;
        record.seconds = figures.seconds;
        return;
    }
    record.requestCharge = 0;
    record.seconds = 0;
    const auto manifest = ReadAccountManifest(*store, kAccountManifestName);
    for (const auto& database : manifest.databases) {
        for (const auto& container : database.containers) {
            if (container.status != AccountContainer::kComplete) continue;
            const auto figures = FiguresOf(ReadManifest(*repository.OpenBackup(record.id + "/" + AccountManifest::PathOf(database, container))));
            record.containers[database.id + "/" + container.id] = figures;
            record.requestCharge += figures.requestCharge;
            record.seconds = std::max(record.seconds, figures.seconds);  // containers are read side by side
        }
    }
}

}  // namespace cosmosbackup
