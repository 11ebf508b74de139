// A wrapper assembly without the list factory class.

#include "MarshalTest.h"

#include "marshal/CloudSDKHelper.h"

namespace marshaltest {
namespace {

using NoFactoryTest = MarshalTest;

TEST_F(NoFactoryTest, MissingFactoryIsNamedByTheKindAsked) {
    EXPECT_EQ(CloudSDKCppBridgeHelper::CCloudSDKHelper::CreateList("SStringLibHandle"), nullptr);
    EXPECT_EQ(Logged("Failed to get list factory class [SStringLibHandle]"), 1);
    EXPECT_EQ(Logged("CCloudWrapperFactory"), 0);
}

TEST_F(NoFactoryTest, RestoreItemsAreNotHandedOverWithoutAList) {
    MonoObject* list = nullptr;
    EXPECT_FALSE(CloudSDKCppBridgeHelper::CCloudSDKHelper::ConvertStringList_NativeToManaged(list, {{"a"}}));
    EXPECT_EQ(list, nullptr);

    CloudSDKCppBridge::CCloudSDKCppBridge bridge;
    EXPECT_FALSE(bridge.AddCosmosDBRestoreItems({{"a"}}));
    EXPECT_EQ(testsupport::TestDouble::CallCount("AddCosmosDBRestoreItems"), 0);
}

}  // namespace
}  // namespace marshaltest
