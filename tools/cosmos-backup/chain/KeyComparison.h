#pragma once

#include "chain/KeySet.h"

namespace cosmosbackup {

struct KeyChangeFiles {
    DataFile keys;       // the state's keys now: keys.jsonl.gz
    DataFile deletions;  // keys gone since the parent: deletions.jsonl.gz
};

// An increment's key files: every key of the parent's state (`parent`) or changed since
// (`changed`) is either still in the container (`live`), and then in the new state, or
// deleted. All three streams are in order; they are merged as they come, so that no union
// or intersection of a whole container's keys is ever held. Exact: keys compare as whole texts.
KeyChangeFiles CompareKeys(BackupStore& store, KeyCursor& parent, KeyCursor& changed, KeyCursor& live);

// The same from the keys known deleted (`deleted`, in order) instead of those still there: every
// key of the parent's state or changed since is in the new state unless it is deleted.
KeyChangeFiles RemoveDeletedKeys(BackupStore& store, KeyCursor& parent, KeyCursor& changed, KeyCursor& deleted);

}  // namespace cosmosbackup
