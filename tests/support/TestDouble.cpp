#include "support/TestDouble.h"

#include "host/ManagedInvoke.h"
#include "platform/MonoAPI.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace testsupport {

MonoObject* TestDouble::CallStatic(const char* className, const char* method, void** args, int argCount) {
    MonoClass* klass = MonoAPI::mono_class_from_name_ptr(g_image, "CloudSDKWrapper", className);
    if (klass == nullptr) {
        ADD_FAILURE() << "test double class " << className << " not found";
        return nullptr;
    }
    MonoMethod* m = MonoAPI::mono_class_get_method_from_name_ptr(klass, method, argCount);
    if (m == nullptr) {
        ADD_FAILURE() << "test double method " << className << "." << method << " not found";
        return nullptr;
    }
    MonoObject* exception = nullptr;
    // Directly: the double's scripting methods take whatever a test hands them.
    MonoObject* result = MonoAPI::mono_runtime_invoke_ptr(m, nullptr, args, &exception);
    if (exception != nullptr) {
        ADD_FAILURE() << className << "." << method << " raised " << cloudsdk::ExceptionClassName(exception);
    }
    return result;
}

void TestDouble::Reset() { CallStatic("TestControl", "Reset", nullptr, 0); }

void TestDouble::Script(const std::string& method, const std::string& key, const std::string& value) {
    void* args[] = {std2gc(method), std2gc(key), std2gc(value)};
    CallStatic("TestControl", "Script", args, 3);
}

int TestDouble::CallCount(const std::string& method) {
    void* args[] = {std2gc(method)};
    MonoObject* result = CallStatic("TestControl", "CallCount", args, 1);
    return result != nullptr ? *static_cast<int*>(MonoAPI::mono_object_unbox_ptr(result)) : -1;
}

std::string TestDouble::LastCall(const std::string& method) {
    void* args[] = {std2gc(method)};
    MonoObject* result = CallStatic("TestControl", "LastCall", args, 1);
    return result != nullptr ? gc2std(reinterpret_cast<MonoString*>(result)) : "<none>";
}

MonoObject* TestDouble::Arg(const std::string& method, int index) {
    void* args[] = {std2gc(method), &index};
    return CallStatic("TestControl", "Arg", args, 2);
}

void TestDouble::Collect() { CallStatic("TestControl", "Collect", nullptr, 0); }

int TestDouble::LiveWrappers() {
    MonoClass* klass = MonoAPI::mono_class_from_name_ptr(g_image, "CloudSDKWrapper", "TestControl");
    MonoClassField* field = MonoAPI::mono_class_get_field_from_name_ptr(klass, "LiveWrappers");
    MonoObject* boxed = MonoAPI::mono_field_get_value_object_ptr(g_domain, field, nullptr);
    return boxed != nullptr ? *static_cast<int*>(MonoAPI::mono_object_unbox_ptr(boxed)) : -1;
}

std::string ReadLog() {
    std::ifstream in(LogPath(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int CountInLog(const std::string& needle) {
    const std::string log = ReadLog();
    int count = 0;
    for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

std::string LogLinesWith(const std::string& needle) {
    std::istringstream log(ReadLog());
    std::string line;
    std::string found;
    while (std::getline(log, line)) {
        if (line.find(needle) != std::string::npos) {
            found += line + "\n";
        }
    }
    return found;
}

}  // namespace testsupport
