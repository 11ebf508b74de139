// Crossing 100,000 texts of 64 characters between a managed list and std::vector<SString>,
// in both directions, beside the same walks written naively (the runtime's own text
// converters, a class lookup per record, records appended by copy) and managed-only loops
// that encode each text to UTF-8 (or build each element from UTF-8): the limits the native
// crossings can approach.
//
// Needs the test double's assembly: run with CLOUDSDK_HOME=<build>/worlds/normal.

#include <CloudSDKCppBridge.h>

#include "marshal/CloudSDKHelper.h"
#include "platform/MonoAPI.h"

#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using CloudSDKCppBridge::SString;
using CloudSDKCppBridgeHelper::CCloudSDKHelper;

constexpr int kTexts = 100000;
constexpr int kTextLength = 64;
constexpr const char* kNamespace = "CloudSDKWrapper";

// The managed list all managed-to-native runs walk, and the same texts as UTF-8 byte
// arrays for the managed-only fill, held by GC handles across runs.
uint32_t g_managedTexts = 0;
uint32_t g_managedUtf8 = 0;

// The runtime's own text converters, which the library does not use, for the naive walks.
template <class Function>
Function Runtime(Function, const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
}

MonoObject* CallTestLists(const char* method, void** args, int argCount) {
    MonoClass* klass = MonoAPI::mono_class_from_name_ptr(g_image, kNamespace, "TestLists");
    MonoMethod* m = klass != nullptr ? MonoAPI::mono_class_get_method_from_name_ptr(klass, method, argCount) : nullptr;
    if (m == nullptr) {
        return nullptr;
    }
    MonoObject* exception = nullptr;
    return MonoAPI::mono_runtime_invoke_ptr(m, nullptr, args, &exception);
}

MonoObject* ManagedTexts() { return MonoAPI::mono_gchandle_get_target_ptr(g_managedTexts); }

std::vector<SString> NativeTexts() {
    std::vector<SString> texts(kTexts);
    for (int i = 0; i < kTexts; ++i) {
        std::string text = std::to_string(1000000000 + i);
        while (text.size() < kTextLength) text.push_back(static_cast<char>('a' + text.size() % 26));
        texts[i].strValue = std::move(text);
    }
    return texts;
}

MonoMethod* Method(MonoClass* klass, const char* name) {
    return MonoAPI::mono_class_get_method_from_name_ptr(klass, name, -1);
}

// The walk as first written: runtime converters, the field found per element, a copy per append.
void NaiveManagedToNative(std::vector<SString>& out, MonoObject* list) {
    out.clear();
    MonoClass* enumeratorClass = MonoAPI::mono_class_from_name_ptr(g_image, kNamespace, "SStringListEnumerator");
    MonoMethod* getEnumerator = Method(enumeratorClass, "GetEnumerator");
    MonoMethod* moveNext = Method(enumeratorClass, "MoveNext");
    MonoMethod* current = Method(enumeratorClass, "Current");
    MonoObject* exception = nullptr;
    void* args[] = {list};
    MonoObject* enumerator = MonoAPI::mono_runtime_invoke_ptr(getEnumerator, nullptr, args, &exception);
    for (;;) {
        MonoObject* more = MonoAPI::mono_runtime_invoke_ptr(moveNext, enumerator, nullptr, &exception);
        if (more == nullptr || *static_cast<uint8_t*>(MonoAPI::mono_object_unbox_ptr(more)) == 0) {
            return;
        }
        MonoObject* element = MonoAPI::mono_runtime_invoke_ptr(current, enumerator, nullptr, &exception);
        MonoClass* elementClass = MonoAPI::mono_object_get_class_ptr(element);
        MonoClassField* field = MonoAPI::mono_class_get_field_from_name_ptr(elementClass, "strValue");
        MonoString* text = nullptr;
        MonoAPI::mono_field_get_value_ptr(element, field, &text);
        SString record;
        static const auto toUtf8 = Runtime(&mono_string_to_utf8, "mono_string_to_utf8");
        char* utf8 = toUtf8(text);
        record.strValue = utf8;
        MonoAPI::mono_free_ptr(utf8);
        out.push_back(record);
    }
}

// The fill as first written: a throw-away object per record to carry the element class,
// the element class and its field looked up per record, mono_string_new for the text.
MonoObject* NaiveNativeToManaged(const std::vector<SString>& in) {
    MonoClass* factory = MonoAPI::mono_class_from_name_ptr(g_image, kNamespace, "CCloudWrapperFactory");
    MonoObject* exception = nullptr;
    MonoObject* list =
        MonoAPI::mono_runtime_invoke_ptr(Method(factory, "CreateSStringLibList"), nullptr, nullptr, &exception);
    MonoMethod* add = Method(MonoAPI::mono_object_get_class_ptr(list), "Add");
    for (const SString& record : in) {
        MonoClass* carrierClass = MonoAPI::mono_class_from_name_ptr(g_image, kNamespace, "SStringLib");
        MonoObject* carrier = MonoAPI::mono_object_new_ptr(g_domain, carrierClass);
        MonoClass* elementClass = MonoAPI::mono_object_get_class_ptr(carrier);
        MonoClass* realClass = MonoAPI::mono_class_from_name_ptr(g_image, kNamespace, "SStringLib");
        MonoObject* element = MonoAPI::mono_object_new_ptr(g_domain, realClass);
        MonoAPI::mono_runtime_invoke_ptr(Method(elementClass, ".ctor"), element, nullptr, &exception);
        MonoClassField* field = MonoAPI::mono_class_get_field_from_name_ptr(elementClass, "strValue");
        static const auto newString = Runtime(&mono_string_new, "mono_string_new");
        MonoString* text = newString(g_domain, record.strValue.c_str());
        MonoAPI::mono_field_set_value_ptr(element, field, text);
        void* args[] = {element};
        MonoAPI::mono_runtime_invoke_ptr(add, list, args, &exception);
    }
    return list;
}

void ReportElements(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * kTexts);
    state.counters["elements/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kTexts,
                                                      benchmark::Counter::kIsRate);
}

void ManagedToNative(benchmark::State& state) {
    std::vector<SString> out;
    for (auto _ : state) {
        if (!CCloudSDKHelper::ConvertStringList_ManagedToNative(out, ManagedTexts()) || out.size() != kTexts) {
            state.SkipWithError("the list was not read whole");
            return;
        }
        benchmark::DoNotOptimize(out.data());
    }
    ReportElements(state);
}

void ManagedToNativeNaive(benchmark::State& state) {
    std::vector<SString> out;
    for (auto _ : state) {
        NaiveManagedToNative(out, ManagedTexts());
        if (out.size() != kTexts) {
            state.SkipWithError("the naive walk did not read the list whole");
            return;
        }
        benchmark::DoNotOptimize(out.data());
    }
    ReportElements(state);
}

void ManagedOnlyEncode(benchmark::State& state) {
    for (auto _ : state) {
        void* args[] = {ManagedTexts()};
        MonoObject* bytes = CallTestLists("EncodeAll", args, 1);
        const int64_t expected = int64_t{kTexts} * kTextLength;
        if (bytes == nullptr || *static_cast<int64_t*>(MonoAPI::mono_object_unbox_ptr(bytes)) != expected) {
            state.SkipWithError("the managed loop did not encode every text");
            return;
        }
    }
    ReportElements(state);
}

void ManagedOnlyDecode(benchmark::State& state) {
    for (auto _ : state) {
        void* args[] = {MonoAPI::mono_gchandle_get_target_ptr(g_managedUtf8)};
        MonoObject* count = CallTestLists("BuildFromUtf8", args, 1);
        if (count == nullptr || *static_cast<int32_t*>(MonoAPI::mono_object_unbox_ptr(count)) != kTexts) {
            state.SkipWithError("the managed loop did not build every element");
            return;
        }
    }
    ReportElements(state);
}

void NativeToManaged(benchmark::State& state) {
    const std::vector<SString> in = NativeTexts();
    for (auto _ : state) {
        MonoObject* list = nullptr;
        if (!CCloudSDKHelper::ConvertStringList_NativeToManaged(list, in)) {
            state.SkipWithError("the list was not filled whole");
            return;
        }
        benchmark::DoNotOptimize(list);
    }
    ReportElements(state);
}

void NativeToManagedNaive(benchmark::State& state) {
    const std::vector<SString> in = NativeTexts();
    for (auto _ : state) {
        MonoObject* list = NaiveNativeToManaged(in);
        benchmark::DoNotOptimize(list);
    }
    ReportElements(state);
}

BENCHMARK(ManagedToNative)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ManagedToNativeNaive)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ManagedOnlyEncode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(NativeToManaged)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(NativeToManagedNaive)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ManagedOnlyDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // The bridge brings the runtime up and attaches this thread, on which every run goes.
    CloudSDKCppBridge::CCloudSDKCppBridge bridge;
    if (g_image == nullptr) {
        fprintf(stderr, "the runtime did not start; set CLOUDSDK_HOME to <build>/worlds/normal\n");
        return 1;
    }
    int count = kTexts;
    int length = kTextLength;
    void* args[] = {&count, &length};
    MonoObject* texts = CallTestLists("Generated", args, 2);
    if (texts == nullptr) {
        fprintf(stderr, "the test double cannot make the list of texts\n");
        return 1;
    }
    g_managedTexts = MonoAPI::mono_gchandle_new_ptr(texts, false);
    void* encodeArgs[] = {texts};
    MonoObject* utf8 = CallTestLists("Utf8Texts", encodeArgs, 1);
    if (utf8 == nullptr) {
        fprintf(stderr, "the test double cannot encode the texts\n");
        return 1;
    }
    g_managedUtf8 = MonoAPI::mono_gchandle_new_ptr(utf8, false);
    benchmark::RunSpecifiedBenchmarks();
    MonoAPI::mono_gchandle_free_ptr(g_managedUtf8);
    MonoAPI::mono_gchandle_free_ptr(g_managedTexts);
    benchmark::Shutdown();
    return 0;
}
