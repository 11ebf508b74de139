// Fuzzes the list conversions through the real runtime: the fuzzer chooses how many texts,
// how long each is and its bytes; the texts go to a managed list and come back, and must
// come back in order, each as its UTF-8 repair (up to a zero byte, where a C string ends).

#include "ReferenceText.h"
#include "RuntimeFixture.h"
#include "marshal/CloudSDKHelper.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

namespace {

using CloudSDKCppBridge::SString;
using CloudSDKCppBridgeHelper::CCloudSDKHelper;
using fuzzref::Check;

std::vector<SString> TextsFrom(FuzzedDataProvider& input) {
    std::vector<SString> texts(input.ConsumeIntegralInRange<size_t>(0, 2000));
    for (SString& text : texts) {
        if (input.remaining_bytes() == 0) break;  // the rest stay empty, which is a case too
        text.strValue = input.ConsumeRandomLengthString(1 << 16);
    }
    return texts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzref::StartRuntimeOnce();
    FuzzedDataProvider input(data, size);
    const std::vector<SString> texts = TextsFrom(input);

    MonoObject* list = nullptr;
    Check(CCloudSDKHelper::ConvertStringList_NativeToManaged(list, texts), "native to managed list failed");
    Check(list != nullptr, "no managed list made");

    std::vector<SString> back{SString{"left over from before"}};
    Check(CCloudSDKHelper::ConvertStringList_ManagedToNative(back, list), "managed to native list failed");
    Check(back.size() == texts.size(), "the list came back with another length");
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::string expected = fuzzref::RepairUtf8(fuzzref::UpToZero(std::string_view(texts[i].strValue)));
        Check(back[i].strValue == expected, "a text did not come back as its repair");
    }
    return 0;
}
