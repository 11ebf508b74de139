// One managed wrapper object per bridge object, held through one strong GC handle, and
// the calls into it by method name.

#include <CloudSDKCppBridge.h>

#include "host/ManagedInvoke.h"
#include "host/RuntimeEntry.h"
#include "host/TextCrossing.h"
#include "host/ThrownException.h"
#include "platform/MonoAPI.h"
#include "platform/ZrCriticalSectionLock.h"

#include <atomic>
#include <cstdint>
#include <optional>

namespace CloudSDKCppBridge {

namespace {

constexpr const char* kNamespace = "CloudSDKWrapper";

// Members that calls on other threads may read while Initialize, on this or another
// thread, makes the managed object again (the interface lets threads call one bridge at
// once). Plain members, reached atomically where that can happen.
template <class T>
T Load(T& member, std::memory_order order = std::memory_order_acquire) {
    return std::atomic_ref<T>(member).load(order);
}

template <class T>
void Store(T& member, T value, std::memory_order order = std::memory_order_release) {
    std::atomic_ref<T>(member).store(value, order);
}

}  // namespace

CCloudWrapperPtr::CCloudWrapperPtr() : m_baseClass(nullptr), m_derivedClass(nullptr), m_initialized(false) {
    Init();
}

CCloudWrapperPtr::~CCloudWrapperPtr() = default;  // m_objectHandle frees the object's handle

bool CCloudWrapperPtr::Init() {
    if (Load(m_initialized)) {
        return true;
    }
    {
        ZrCriticalSectionLock lock(&c_AzuremonoInitCS);
        if (!c_AzuremonoThreadRunning) {
            StartMonoThread();
        }
        if (!c_AzuremonoInitStatus) {
            g_debug.error("Mono init status is not set");
            return false;
        }
    }
    ThreadAttach();
    return CreateManagedObject();
}

bool CCloudWrapperPtr::CreateManagedObject() {
    MonoClass* baseClass = MonoAPI::mono_class_from_name_ptr(g_image, kNamespace, "CCloudWrapper");
    Store(m_baseClass, baseClass, std::memory_order_relaxed);  // the same class on every attempt
    if (baseClass == nullptr) {
        g_debug.error("Failed to get mono base class");
        return false;
    }
    MonoClass* derivedClass = MonoAPI::mono_class_from_name_ptr(g_image, kNamespace, "CAzureResourceWrapper");
    Store(m_derivedClass, derivedClass, std::memory_order_relaxed);
    if (derivedClass == nullptr) {
        g_debug.error("Failed to get mono derived class");
        return false;
    }
    // Every call looks its method up on the base class and runs the override of the
    // object's class; for a class of another lineage the runtime has no override to find
    // and aborts the process.
    if (MonoAPI::mono_class_is_subclass_of_ptr(derivedClass, baseClass, /*check_interfaces=*/false) == 0) {
        g_debug.error("Mono derived class [%s] does not derive from [%s]",
                      MonoAPI::mono_class_get_name_ptr(derivedClass), MonoAPI::mono_class_get_name_ptr(baseClass));
        return false;
    }
    MonoObject* object = MonoAPI::mono_object_new_ptr(g_domain, derivedClass);
    if (object == nullptr) {
        g_debug.error("Failed to create mono object");
        return false;
    }
    // Held by a handle of this attempt alone until its constructor has run: the bridge's
    // handle, which calls on other threads read, only ever names a constructed object, and
    // two attempts at once (Initialize on two threads) never free each other's handle.
    CGcHandle handle = CGcHandle::New(object, /*pinned=*/false);

    const std::optional<cloudsdk::InvokeResult> constructed = cloudsdk::RunDefaultConstructor(derivedClass, object);
    if (!constructed || !constructed->ran || constructed->exception != nullptr) {
        g_debug.error("Failed to construct mono object [%s]",
                      constructed ? cloudsdk::ExceptionClassName(constructed->exception) : "no default constructor");
        return false;
    }
    m_objectHandle.InstallIfEmpty(handle);  // if another attempt finished first, its object stays
    Store(m_initialized, true);
    return true;
}

bool CCloudWrapperPtr::ThreadAttach() { return cloudsdk::EnterRuntime(); }

MonoObject* CCloudWrapperPtr::Invoke(const char* name, const cloudsdk::ArgumentList& args) {
    if (!Load(c_AzuremonoInitStatus)) {
        return nullptr;
    }
    MonoMethod* method = cloudsdk::FindMethod(Load(m_baseClass, std::memory_order_relaxed), name);
    if (method == nullptr) {
        g_debug.error("Could not find method [%s]", name);
        return nullptr;
    }
    MonoObject* object = m_objectHandle.Target();
    if (object == nullptr) {
        g_debug.error("object has been destroyed");
        return nullptr;
    }
    // mono_runtime_invoke does not dispatch virtually: resolve the override first.
    MonoMethod* resolved = MonoAPI::mono_object_get_virtual_method_ptr(object, method);
    if (resolved == nullptr) {
        g_debug.error("could not find virtual method [%s]", name);
        return nullptr;
    }
    const cloudsdk::InvokeResult result = cloudsdk::InvokeChecked(resolved, object, args);
    if (result.exception != nullptr) {
        cloudsdk::HoldThrownException(result.exception);
        throw result.exception;
    }
    return result.value;
}

bool CCloudWrapperPtr::Invoke(bool defaultResult, const char* name, const cloudsdk::ArgumentList& args) {
    MonoObject* result = Invoke(name, args);
    // A result of another type than System.Boolean is as unusable as none.
    if (result == nullptr || MonoAPI::mono_object_get_class_ptr(result) != MonoAPI::mono_get_boolean_class_ptr()) {
        g_debug.error("Result is invalid (bool)");
        return defaultResult;
    }
    return *static_cast<const uint8_t*>(MonoAPI::mono_object_unbox_ptr(result)) != 0;
}

std::string CCloudWrapperPtr::Invoke(std::string& out, const char* name, const cloudsdk::ArgumentList& args) {
    MonoObject* result = Invoke(name, args);
    if (result == nullptr || MonoAPI::mono_object_get_class_ptr(result) != MonoAPI::mono_get_string_class_ptr()) {
        g_debug.error("Result is invalid (string)");
    } else {
        out = cloudsdk::NativeText(reinterpret_cast<MonoString*>(result));
    }
    return out;
}

}  // namespace CloudSDKCppBridge
