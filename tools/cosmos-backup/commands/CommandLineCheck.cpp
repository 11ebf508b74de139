#include "commands/CommandLineCheck.h"

#include "support/EditDistance.h"
#include "support/SecretMask.h"
#include "support/ToolError.h"

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

namespace cosmosbackup {
namespace {

// "; did you mean X?" for the nearest of `known` within a third of the word's length, else "".
std::string Suggestion(const std::string& word, const std::vector<std::string>& known) {
    std::string nearest;
    std::size_t best = std::numeric_limits<std::size_t>::max();
    for (const auto& candidate : known) {
        const auto distance = EditDistance(word, candidate);
        if (distance < best) best = distance, nearest = candidate;
    }
    const std::size_t allowed = std::max<std::size_t>(2, word.size() / 3);
    return best <= allowed ? "; did you mean " + nearest + "?" : "";
}

struct KnownOption {
    std::string name;  // with its dashes
    bool takesValue = false;
    bool takesMany = false;  // the words after it are its values up to the next option
};

std::vector<KnownOption> LongOptionsOf(const CLI::App& app) {
    std::vector<KnownOption> options;
    for (const CLI::Option* option : app.get_options()) {
        for (const auto& name : option->get_lnames()) {
            options.push_back({"--" + name, option->get_items_expected_max() > 0, option->get_items_expected_max() > 1});
        }
    }
    return options;
}

std::vector<std::string> NamesOf(const std::vector<KnownOption>& options) {
    std::vector<std::string> names;
    for (const auto& option : options) names.push_back(option.name);
    return names;
}

[[noreturn]] void RefuseOption(const std::string& name, const std::vector<KnownOption>& scope) {
    if (SecretMask::NamesSecret(name)) {
        throw UsageError("unknown option " + name +
                         ": the account key is read from the environment (COSMOS_KEY, or the variable --key-env names) or "
                         "from --key-file, never from the command line");
    }
    throw UsageError("unknown option " + name + Suggestion(name, NamesOf(scope)));
}

}  // namespace

void CheckCommandLine(const CLI::App& app, int argc, const char* const* argv) {
    std::vector<KnownOption> scope = LongOptionsOf(app);
    std::vector<std::string> commands;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) commands.push_back(command->get_name());
    std::string command;
    const CLI::App* current = &app;
    bool absorbing = false;  // the words that follow belong to an option of many values
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--") return;
        if (argument.rfind("--", 0) == 0) {
            const std::string name = argument.substr(0, argument.find('='));
            const auto known = std::find_if(scope.begin(), scope.end(), [&](const KnownOption& o) { return o.name == name; });
            if (known == scope.end()) RefuseOption(name, scope);
            if (known->takesValue && name.size() == argument.size()) ++i;  // its value, whatever it looks like
            absorbing = known->takesMany;
            continue;
        }
        if (argument.rfind("-", 0) == 0 || absorbing) continue;  // short options and many values: the parser's part
        // A stray word is not echoed: it may be a key pasted in the wrong place.
        const CLI::App* named = nullptr;
        if (!command.empty()) {
            // A command of commands (key list) takes one word more: its own command's name.
            for (const CLI::App* nested : current->get_subcommands([](const CLI::App*) { return true; })) {
                if (nested->get_name() == argument) named = nested;
            }
            if (named == nullptr) throw UsageError(command + " takes options only (--name value); a word without an option was given");
            command += " " + argument;
        } else {
            if (std::find(commands.begin(), commands.end(), argument) == commands.end()) {
                throw UsageError("unknown command '" + argument + "'" + Suggestion(argument, commands) +
                                 " (commands: " + CLI::detail::join(commands, ", ") + ")");
            }
            named = app.get_subcommand(argument);
            command = argument;
        }
        current = named;
        const auto own = LongOptionsOf(*named);
        scope.insert(scope.end(), own.begin(), own.end());
    }
}

}  // namespace cosmosbackup
