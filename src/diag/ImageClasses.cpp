// The library's own class iterator over an image's TypeDef table. The runtime exports no
// function of this name, so defining it here collides with nothing.

#include <CloudSDKCppBridge.h>

#include "host/RuntimeEntry.h"
#include "platform/MonoAPI.h"

#include <cstdint>

namespace {

constexpr int kTypeDefTable = 2;              // MONO_TABLE_TYPEDEF
constexpr uint32_t kTypeDefToken = 0x02000000;  // ECMA-335 token of a TypeDef row
constexpr uintptr_t kLowHalf = 0xFFFFFFFFu;

// The cursor is a signed row number in the low 32 bits of the caller's slot; the high
// half belongs to the caller and is kept.
int32_t ReadCursor(void* slot) {
    return static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(slot) & kLowHalf));
}

void* WithCursor(void* slot, int32_t cursor) {
    const uintptr_t high = reinterpret_cast<uintptr_t>(slot) & ~kLowHalf;
    return reinterpret_cast<void*>(high | static_cast<uint32_t>(cursor));
}

}  // namespace

extern "C" MonoClass* mono_image_get_classes(MonoImage* image, void** iter) {
    if (iter == nullptr || image == nullptr || !cloudsdk::EnterRuntime()) {
        return nullptr;
    }
    int32_t cursor = ReadCursor(*iter);
    if (cursor == 0) {
        cursor = 1;  // row 1 is the module's pseudo-class: a walk begins after it
    }
    // Read afresh on every call. A negative cursor names no row: it ends the walk like
    // the last row, rather than becoming a token of another table.
    const int rows = MonoAPI::mono_image_get_table_rows_ptr(image, kTypeDefTable);
    if (cursor > 0 && rows > cursor) {
        ++cursor;
        *iter = WithCursor(*iter, cursor);
        return MonoAPI::mono_class_get_ptr(image, kTypeDefToken | static_cast<uint32_t>(cursor));
    }
    *iter = WithCursor(*iter, 0);
    return nullptr;
}
