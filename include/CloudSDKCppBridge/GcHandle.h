#pragma once

#include <CloudSDKCppBridge/MonoTypes.h>

#include <cstdint>

namespace CloudSDKCppBridge {

// One GC handle of the runtime, freed when its owner goes: move-only. The handle keeps a
// managed object alive (and, pinned, in place) while only native code refers to it. Its
// operations are internal to the library.
class CGcHandle {
public:
    CGcHandle() noexcept = default;
    // A new handle of `object` (none for null).
    static CGcHandle New(MonoObject* object, bool pinned);
    // Takes ownership of a handle made elsewhere.
    static CGcHandle Adopt(uint32_t handle) noexcept { return CGcHandle(handle); }

    ~CGcHandle();
    CGcHandle(CGcHandle&& other) noexcept : m_handle(other.Release()) {}
    CGcHandle& operator=(CGcHandle&& other) noexcept;
    CGcHandle(const CGcHandle&) = delete;
    CGcHandle& operator=(const CGcHandle&) = delete;

    // The object held, or null. May be called while another thread installs a handle.
    MonoObject* Target() const;
    // Gives `candidate`'s handle to this one if this one holds none, atomically, so that
    // of two threads installing at once exactly one succeeds; the other keeps its own.
    bool InstallIfEmpty(CGcHandle& candidate) noexcept;
    // Gives up ownership without freeing.
    uint32_t Release() noexcept;

private:
    explicit CGcHandle(uint32_t handle) noexcept : m_handle(handle) {}
    void Free() noexcept;

    uint32_t m_handle = 0;
};

}  // namespace CloudSDKCppBridge
