#include "bridge/PageResult.h"

#include "platform/MonoAPI.h"

#include <cstring>

namespace CloudSDKCppBridge::bridge {
namespace {

constexpr std::uint64_t kHeaderBytes = 8;  // item count, length of the item bytes

std::uint32_t ReadUint32(const unsigned char* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

bool IsByteArray(MonoObject* object) {
    MonoClass* bytes = MonoAPI::mono_array_class_get_ptr(MonoAPI::mono_get_byte_class_ptr(), 1);
    return MonoAPI::mono_object_get_class_ptr(object) == bytes;
}

// Every item ends at a line feed, after the previous one's, and the last one ends the bytes.
bool EndsFit(const SItemPage& page) {
    std::size_t start = 0;
    for (const std::uint32_t end : page.ends) {
        if (end < start || end >= page.bytes.size() || page.bytes[end] != '\n') {
            return false;
        }
        start = static_cast<std::size_t>(end) + 1;
    }
    return start == page.bytes.size();
}

bool Refuse(SItemPage& page, const char* why) {
    page.bytes.clear();
    page.ends.clear();
    g_debug.error("A page of items from the managed side is refused: %s", why);
    return false;
}

}  // namespace

bool ReadItemPage(MonoObject* result, SItemPage& page) {
    if (result == nullptr) {
        return false;
    }
    if (!IsByteArray(result)) {
        return Refuse(page, "it is not a byte array");
    }
    auto* array = reinterpret_cast<MonoArray*>(result);
    const std::uint64_t length = MonoAPI::mono_array_length_ptr(array);
    const auto* data = reinterpret_cast<const unsigned char*>(MonoAPI::mono_array_addr_with_size_ptr(array, 1, 0));
    if (length < kHeaderBytes) {
        return Refuse(page, "it has no header");
    }
    const std::uint64_t count = ReadUint32(data);
    const std::uint64_t itemBytes = ReadUint32(data + 4);
    if (kHeaderBytes + itemBytes + 4 * count > length) {
        return Refuse(page, "its counts are larger than the array");
    }
    page.bytes.assign(reinterpret_cast<const char*>(data) + kHeaderBytes, static_cast<std::size_t>(itemBytes));
    const unsigned char* ends = data + kHeaderBytes + itemBytes;
    page.ends.resize(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < page.ends.size(); ++i) {
        page.ends[i] = ReadUint32(ends + 4 * i);
    }
    return EndsFit(page) ? true : Refuse(page, "its item ends do not match its bytes");
}

}  // namespace CloudSDKCppBridge::bridge
