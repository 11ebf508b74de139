#pragma once

#include <stdexcept>
#include <string>

namespace cosmosbackup {

// A failure the tool reports to its user and ends on: the message says what failed and why.
class ToolError : public std::runtime_error {
public:
    explicit ToolError(const std::string& message) : std::runtime_error(message) {}
};

// Options that do not go together: the tool says so in one line and exits with the usage status.
class UsageError : public ToolError {
public:
    using ToolError::ToolError;
};

}  // namespace cosmosbackup
