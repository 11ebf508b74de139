#pragma once

// Access to the managed test double from native tests: scripting its methods, reading what
// they received, and reading this process's log.
//
// REQUIRES: the runtime up (construct a bridge first) and the calling thread attached.

#include <CloudSDKCppBridge.h>

#include <string>

namespace testsupport {

class TestDouble {
public:
    static void Reset();
    // See managed/testdouble/TestControl.cs for the keys and values.
    static void Script(const std::string& method, const std::string& key, const std::string& value);
    static int CallCount(const std::string& method);
    // The last call's arguments as "a|b|c" (strings quoted), or "<none>".
    static std::string LastCall(const std::string& method);
    // The last call's argument `index` as the managed object it received.
    static MonoObject* Arg(const std::string& method, int index);
    static void Collect();
    static int LiveWrappers();
    // Calls any static method of TestControl-like classes; fails the test on an exception.
    static MonoObject* CallStatic(const char* className, const char* method, void** args, int argCount);
};

// The whole log this process has written so far, and how often `needle` occurs in it.
std::string ReadLog();
int CountInLog(const std::string& needle);
// Lines of the log that contain `needle`.
std::string LogLinesWith(const std::string& needle);

// The path of this process's log file (set by the test main before anything logs).
const std::string& LogPath();

}  // namespace testsupport
