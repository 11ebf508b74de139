#pragma once

#include <CloudSDKCppBridge.h>

#include "support/TestDouble.h"

#include <gtest/gtest.h>

#include <memory>

// A bridge on the normal test double, with the double's scripts and records cleared.
class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        bridge = std::make_unique<CloudSDKCppBridge::CCloudSDKCppBridge>();
        ASSERT_TRUE(CloudSDKCppBridge::CCloudWrapperPtr::c_AzuremonoInitStatus) << testsupport::ReadLog();
        testsupport::TestDouble::Reset();
    }

    static void Script(const std::string& method, const std::string& key, const std::string& value) {
        testsupport::TestDouble::Script(method, key, value);
    }
    static std::string LastCall(const std::string& method) { return testsupport::TestDouble::LastCall(method); }
    static int Calls(const std::string& method) { return testsupport::TestDouble::CallCount(method); }

    std::unique_ptr<CloudSDKCppBridge::CCloudSDKCppBridge> bridge;
};
