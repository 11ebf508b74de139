#pragma once

#include "service/Connection.h"

#include <cstdint>
#include <string>

namespace cosmosbackup {

// The items a restore could not write after every retry (the wrapper lists them: id, partition
// key, status, reason), as a JSON Lines file, owner-only. Refusals are appended as they are
// confirmed, before the restore records its position past them, so that a killed or interrupted
// restore loses none; a resumed restore appends to the report its earlier run began.
class FailureReport {
public:
    // `where`: a directory, where the report is named after `target` and the time, or the path
    // of the report itself. `recordedPath` and `recordedCount`: the report of an earlier run of
    // the same restore ("" and 0 for a new one), which this one goes on with.
    FailureReport(const std::string& where, const std::string& target, const std::string& recordedPath, std::int64_t recordedCount);

    // Throws ToolError unless the report can be written (checked before the first item is).
    void CheckWritable() const;
    // Appends the items the wrapper listed since the last call, durably.
    void Collect(Connection& connection);

    // The report's absolute path ("" while no item was listed, in this run or an earlier one).
    const std::string& path() const { return m_path; }
    // What the restore's record keeps from the first record on, so that a resumed run lists its
    // refusals in the same report: its path, or while nothing is listed the place it goes.
    const std::string& place() const { return m_path.empty() ? m_where : m_path; }
    // Items listed, by earlier runs of this restore as well.
    std::int64_t count() const { return m_count; }
    std::int64_t countBefore() const { return m_countBefore; }

private:
    std::string m_where;         // a directory, or the report's own path
    std::string m_target;
    std::string m_path;
    std::int64_t m_count = 0;
    std::int64_t m_countBefore = 0;
    std::size_t m_taken = 0;     // entries of this run's list already in the file
};

}  // namespace cosmosbackup
