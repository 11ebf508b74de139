// A method's declaration is read once and kept; whether a call fits is decided on every
// call. Once a method has run with arguments that fit, the same method given arguments
// of another shape or class, or a method of the same name on another class, is still
// refused, also when the first uses come from several threads at once.

#include "MarshalTest.h"

#include "host/ManagedInvoke.h"
#include "host/RuntimeEntry.h"

#include <atomic>
#include <thread>
#include <vector>

namespace marshaltest {
namespace {

using cloudsdk::Arguments;
using cloudsdk::ByRef;
using cloudsdk::InvokeChecked;

using MethodDeclarationTest = MarshalTest;

MonoMethod* FieldKindsMethod(const char* name) {
    return cloudsdk::FindMethod(MonoAPI::mono_class_from_name_ptr(g_image, "CloudSDKWrapper", "FieldKinds"), name);
}

TEST_F(MethodDeclarationTest, AMethodThatRanStillRefusesArgumentsOfAnotherShape) {
    MonoMethod* method = FieldKindsMethod("TwoParams");  // static int TwoParams(int, string)
    ASSERT_NE(method, nullptr);
    MonoString* text = nullptr;
    for (int round = 0; round < 2; ++round) {
        const cloudsdk::InvokeResult fits = InvokeChecked(method, nullptr, Arguments(int32_t{41}, std2gc("x")));
        EXPECT_TRUE(fits.ran);
        EXPECT_EQ(Unboxed(fits.value), 41);
        EXPECT_FALSE(InvokeChecked(method, nullptr, Arguments(int32_t{1}, int32_t{2})).ran);
        EXPECT_FALSE(InvokeChecked(method, nullptr, Arguments(int64_t{1}, std2gc("x"))).ran);
        EXPECT_FALSE(InvokeChecked(method, nullptr, Arguments(int32_t{1}, ByRef(text))).ran);
        EXPECT_FALSE(InvokeChecked(method, nullptr, Arguments(int32_t{1})).ran);
    }
    EXPECT_EQ(Logged("Managed method [FieldKinds.TwoParams] does not fit the call"), 8);
    EXPECT_EQ(Logged("found static (int, string)"), 8);

    // An instance call of the static method, and an object of another class where the
    // declaration names one: refused after the fitting calls as before them.
    MonoObject* kinds = NewManagedObjectAzure("FieldKinds", true);
    EXPECT_FALSE(InvokeChecked(method, kinds, Arguments(int32_t{1}, std2gc("x"))).ran);
    MonoMethod* pointX = FieldKindsMethod("PointX");  // static int PointX(FieldKinds)
    EXPECT_EQ(Unboxed(InvokeChecked(pointX, nullptr, Arguments(kinds)).value), 3);
    EXPECT_FALSE(InvokeChecked(pointX, nullptr, Arguments(reinterpret_cast<MonoObject*>(std2gc("x")))).ran);
    EXPECT_EQ(Unboxed(InvokeChecked(pointX, nullptr, Arguments(kinds)).value), 3);
    EXPECT_EQ(Logged("Managed method [FieldKinds.PointX] is not run: argument 1 is a [String], not a [FieldKinds]"), 1);
}

TEST_F(MethodDeclarationTest, MethodsBeyondTheKeptOnesAreStillDecidedOnEveryCall) {
    // System.Convert declares some three hundred methods, more than are kept.
    MonoClass* convert = MonoAPI::mono_class_from_name_ptr(MonoAPI::mono_get_corlib_ptr(), "System", "Convert");
    ASSERT_NE(convert, nullptr);
    void* cursor = nullptr;
    int seen = 0;
    while (MonoMethod* method = MonoAPI::mono_class_get_methods_ptr(convert, &cursor)) {
        cloudsdk::FitMethod(method, cloudsdk::Binding::Static, Arguments(std2gc("1")));
        ++seen;
    }
    ASSERT_GT(seen, 300);
    MonoMethod* method = FieldKindsMethod("TwoParams");
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(Unboxed(InvokeChecked(method, nullptr, Arguments(int32_t{7}, std2gc("x"))).value), 7);
        EXPECT_FALSE(InvokeChecked(method, nullptr, Arguments(std2gc("x"), int32_t{7})).ran);
    }
}

TEST_F(MethodDeclarationTest, FirstUsesOnSeveralThreadsAtOnceDecideAlike) {
    constexpr int kThreads = 4;
    constexpr int kCalls = 500;
    std::atomic<int> ran{0}, refused{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            ASSERT_TRUE(cloudsdk::EnterRuntime());
            while (!go) {
                std::this_thread::yield();
            }
            MonoMethod* method = FieldKindsMethod("TwoParams");
            for (int i = 0; i < kCalls; ++i) {
                ran += InvokeChecked(method, nullptr, Arguments(int32_t{i}, std2gc("x"))).ran ? 1 : 0;
                refused += InvokeChecked(method, nullptr, Arguments(std2gc("x"), int32_t{i})).ran ? 0 : 1;
            }
        });
    }
    go = true;
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(ran, kThreads * kCalls);
    EXPECT_EQ(refused, kThreads * kCalls);
}

}  // namespace
}  // namespace marshaltest
