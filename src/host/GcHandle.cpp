#include <CloudSDKCppBridge/GcHandle.h>

#include "platform/MonoAPI.h"

#include <atomic>

namespace CloudSDKCppBridge {

// The handle is read with acquire and installed with release: a bridge's handle is read
// by calls on other threads while Initialize installs it.

CGcHandle CGcHandle::New(MonoObject* object, bool pinned) {
    return CGcHandle(object != nullptr ? MonoAPI::mono_gchandle_new_ptr(object, pinned) : 0);
}

CGcHandle::~CGcHandle() { Free(); }

CGcHandle& CGcHandle::operator=(CGcHandle&& other) noexcept {
    if (this != &other) {
        Free();
        m_handle = other.Release();
    }
    return *this;
}

MonoObject* CGcHandle::Target() const {
    const uint32_t handle = std::atomic_ref<uint32_t>(const_cast<uint32_t&>(m_handle)).load(std::memory_order_acquire);
    return handle != 0 ? MonoAPI::mono_gchandle_get_target_ptr(handle) : nullptr;
}

bool CGcHandle::InstallIfEmpty(CGcHandle& candidate) noexcept {
    uint32_t none = 0;
    if (!std::atomic_ref<uint32_t>(m_handle).compare_exchange_strong(none, candidate.m_handle,
                                                                     std::memory_order_acq_rel)) {
        return false;
    }
    candidate.m_handle = 0;
    return true;
}

uint32_t CGcHandle::Release() noexcept {
    const uint32_t handle = m_handle;
    m_handle = 0;
    return handle;
}

void CGcHandle::Free() noexcept {
    if (m_handle != 0) {
        MonoAPI::mono_gchandle_free_ptr(m_handle);
        m_handle = 0;
    }
}

}  // namespace CloudSDKCppBridge
