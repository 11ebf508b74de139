#pragma once

// Every bridge method as one call with fixed scripted answers, and the check of what came
// back: for tests that drive all methods many times and must know each result is right.

#include <CloudSDKCppBridge.h>

#include <functional>
#include <string>
#include <vector>

namespace reliability {

// One method: its managed name, the call, and the check of what came back. The check
// returns an empty text when the result is right, else what was wrong. `tag` goes into the
// text arguments.
struct MethodCase {
    const char* managedName;
    std::function<std::string(CloudSDKCppBridge::CCloudSDKCppBridge&, const std::string& tag)> callAndCheck;
};

// Scripts the answers that AllMethods() checks (after resetting the double).
// REQUIRES: the runtime up and the calling thread attached.
void ScriptAnswers();

// The 32 methods, in the order of the public header.
std::vector<MethodCase> AllMethods();

// Calls all 32 methods once, with `t` in every text argument and every record, ignoring
// what comes back.
void CallEveryMethodWithText(CloudSDKCppBridge::CCloudSDKCppBridge& b, const std::string& t);

}  // namespace reliability
