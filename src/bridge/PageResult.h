#pragma once

#include <CloudSDKCppBridge.h>

#include <cstdint>

namespace CloudSDKCppBridge::bridge {

// Reads a managed page of items (a byte array: the item count, the length of the items, the
// items as JSON Lines, each item's end; all counts 32-bit little-endian; the array may be
// longer) into `page` with one copy. A result that is not a byte array, or whose counts do
// not describe its bytes, is logged and gives false with `page` empty: a host must never
// take part of a page for the whole.
bool ReadItemPage(MonoObject* result, SItemPage& page);

}  // namespace CloudSDKCppBridge::bridge
