#pragma once

#include "pipeline/RestorePipeline.h"

namespace cosmosbackup {

// The restore pipeline's chain source. Restores the state the chain that ends with the
// incremental backup in `last` (options.directory) describes, computed from its files alone:
// of each key in the newest link's key file, its newest version in the links' data files (read
// newest first, ChainState.h), written once; nothing the chain deleted is written, and into a
// new container no deletion is sent. Into an existing container (options.intoExisting) the
// keys deleted since the base are deleted as well. Every link is checked (present, its
// manifest's hash as recorded, the same container definition, every data file intact), and the
// key files the restore reads (the newest link's; into an existing container the deletion
// files) are checked as they are read, all before the first write. The run's progress is recorded in the newest link's location under the chain's
// own name; with options.resume it goes on from there. Scripts come from the newest link, and
// the target's count is checked against its key file.
RestoreSummary RestoreChain(Connection& connection, std::shared_ptr<BackupStore> last, const RestoreOptions& options);

// What a chain's state restore into `target` ("database/container") is recorded under, in its
// newest link's location: never the name of a plain restore, nor of the link-by-link restores of
// earlier versions.
std::string StateRunKey(const std::string& target);

}  // namespace cosmosbackup
