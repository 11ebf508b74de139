// The exported helpers as a host may call them: before the runtime is up, and on a thread
// that never made a bridge call. The runtime aborts the process when called on a thread
// it does not know, and before start-up its entries are empty.

#include "MarshalTest.h"

#include <thread>

namespace marshaltest {
namespace {

TEST(HelperEntry, BeforeStartUpEveryHelperGivesItsFailureValue) {
    ASSERT_FALSE(CloudSDKCppBridge::CCloudWrapperPtr::c_AzuremonoThreadRunning);
    EXPECT_EQ(std2gc("text"), nullptr);
    EXPECT_EQ(NewManagedObjectAzure("SStringLib", true), nullptr);
    EXPECT_EQ(NewManagedDateTime(), nullptr);
    EXPECT_EQ(NewManagedArray("bytes", 4), nullptr);
    EXPECT_EQ(GetStringFieldValue(nullptr, nullptr, "strValue"), "");
    EXPECT_TRUE(IsStringFieldEmpty(nullptr, "strValue"));
    DumpClasses();
    LogException("where", nullptr);
    EXPECT_EQ(testsupport::CountInLog("where: Exception caught in bridge - \n"), 1);
}

TEST(HelperEntry, HelpersWorkOnAThreadThatNeverCalledTheBridge) {
    CloudSDKCppBridge::CCloudSDKCppBridge bridge;
    ASSERT_TRUE(CloudSDKCppBridge::CCloudWrapperPtr::c_AzuremonoInitStatus);
    std::string text;
    bool dateMade = false;
    std::thread([&] {
        MonoObject* element = NewManagedObjectAzure("SStringLib", true);
        ASSERT_NE(element, nullptr);
        MonoClass* klass = MonoAPI::mono_object_get_class_ptr(element);
        SetFieldValue(klass, element, "strValue", std2gc("set on a new thread"));
        text = GetStringFieldValue(klass, element, "strValue");
        dateMade = NewManagedDateTime() != nullptr;
    }).join();
    EXPECT_EQ(text, "set on a new thread");
    EXPECT_TRUE(dateMade);
}

}  // namespace
}  // namespace marshaltest
