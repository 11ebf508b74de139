#pragma once

// A fixture for the marshalling and diagnostics tests: brings the runtime up through a
// bridge object (which attaches the thread) and reads only what the test itself logged.

#include "support/TestDouble.h"

#include "platform/MonoAPI.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace marshaltest {

class MarshalTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_bridge = std::make_unique<CloudSDKCppBridge::CCloudSDKCppBridge>();
        ASSERT_NE(g_image, nullptr) << "the runtime did not come up";
        m_logStart = testsupport::ReadLog().size();
    }

    // What was logged since SetUp, and how often `needle` occurs in it.
    std::string Log() const {
        const std::string log = testsupport::ReadLog();
        return m_logStart <= log.size() ? log.substr(m_logStart) : log;
    }
    int Logged(const std::string& needle) const {
        const std::string log = Log();
        int count = 0;
        for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + needle.size())) {
            ++count;
        }
        return count;
    }

    static MonoClass* Class(const char* name) {
        return MonoAPI::mono_class_from_name_ptr(g_image, "CloudSDKWrapper", name);
    }
    static MonoObject* Static(const char* className, const char* method, void** args, int argCount) {
        return testsupport::TestDouble::CallStatic(className, method, args, argCount);
    }
    // A managed list as TestLists.MakeList builds it ("texts:a|b", "texts-null-at:1:a|b", ...).
    static MonoObject* List(const std::string& shape) {
        void* args[] = {std2gc(shape)};
        return Static("TestLists", "MakeList", args, 1);
    }
    static int Unboxed(MonoObject* boxed) {
        return boxed != nullptr ? *static_cast<int*>(MonoAPI::mono_object_unbox_ptr(boxed)) : -999;
    }
    static bool UnboxedBool(MonoObject* boxed) {
        return boxed != nullptr && *static_cast<uint8_t*>(MonoAPI::mono_object_unbox_ptr(boxed)) != 0;
    }

private:
    std::unique_ptr<CloudSDKCppBridge::CCloudSDKCppBridge> m_bridge;
    size_t m_logStart = 0;
};

// A fixture with one constructed "FieldKinds" object, which holds a field of every kind.
class FieldKindsTest : public MarshalTest {
protected:
    void SetUp() override {
        MarshalTest::SetUp();
        object = NewManagedObjectAzure("FieldKinds", true);
        ASSERT_NE(object, nullptr);
        klass = MonoAPI::mono_object_get_class_ptr(object);
    }
    MonoObject* object = nullptr;
    MonoClass* klass = nullptr;
};

}  // namespace marshaltest
