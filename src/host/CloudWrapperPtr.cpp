// One managed wrapper object per bridge object, held through one strong GC handle, and
// the calls into it by method name.

#include <CloudSDKCppBridge.h>

#include "host/ManagedCall.h"
#include "host/StartupState.h"
#include "platform/MonoAPI.h"

#include <cstdint>
#include <mutex>

namespace CloudSDKCppBridge {

namespace {

constexpr const char* kNamespace = "CloudSDKWrapper";

}  // namespace

CCloudWrapperPtr::CCloudWrapperPtr()
    : m_baseClass(nullptr), m_derivedClass(nullptr), m_objectHandle(0), m_initialized(false) {
    Init();
}

CCloudWrapperPtr::~CCloudWrapperPtr() {
    if (m_objectHandle != 0) {
        MonoAPI::mono_gchandle_free_ptr(m_objectHandle);
        m_objectHandle = 0;
    }
}

bool CCloudWrapperPtr::Init() {
    if (m_initialized) {
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(cloudsdk::startup::Lock());
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
    m_baseClass = MonoAPI::mono_class_from_name_ptr(g_image, kNamespace, "CCloudWrapper");
    if (m_baseClass == nullptr) {
        g_debug.error("Failed to get mono base class");
        return false;
    }
    m_derivedClass = MonoAPI::mono_class_from_name_ptr(g_image, kNamespace, "CAzureResourceWrapper");
    if (m_derivedClass == nullptr) {
        g_debug.error("Failed to get mono derived class");
        return false;
    }
    MonoObject* object = MonoAPI::mono_object_new_ptr(g_domain, m_derivedClass);
    if (object == nullptr) {
        g_debug.error("Failed to create mono object");
        return false;
    }
    if (m_objectHandle != 0) {
        MonoAPI::mono_gchandle_free_ptr(m_objectHandle);  // left by an earlier failed attempt
    }
    m_objectHandle = MonoAPI::mono_gchandle_new_ptr(object, false);

    // The constructor runs through an invoke with an exception slot: the runtime's own
    // object initialiser ends the whole process when a constructor throws.
    MonoMethod* constructor = MonoAPI::mono_class_get_method_from_name_ptr(m_derivedClass, ".ctor", 0);
    MonoObject* exception = nullptr;
    if (constructor != nullptr) {
        cloudsdk::InvokeManaged(constructor, object, nullptr, exception);
    }
    if (constructor == nullptr || exception != nullptr) {
        g_debug.error("Failed to construct mono object [%s]",
                      constructor == nullptr ? "no default constructor" : cloudsdk::ExceptionClassName(exception));
        MonoAPI::mono_gchandle_free_ptr(m_objectHandle);
        m_objectHandle = 0;
        return false;
    }
    m_initialized = true;
    return true;
}

bool CCloudWrapperPtr::ThreadAttach() {
    if (!c_AzuremonoInitStatus) {
        return false;
    }
    MonoAPI::mono_thread_attach_ptr(g_domain);  // harmless for a thread already attached
    return true;
}

MonoObject* CCloudWrapperPtr::Invoke(const char* name, void** args) {
    if (!c_AzuremonoInitStatus) {
        return nullptr;
    }
    MonoMethod* method =
        m_baseClass != nullptr ? MonoAPI::mono_class_get_method_from_name_ptr(m_baseClass, name, -1) : nullptr;
    if (method == nullptr) {
        g_debug.error("Could not find method [%s]", name);
        return nullptr;
    }
    MonoObject* object = m_objectHandle != 0 ? MonoAPI::mono_gchandle_get_target_ptr(m_objectHandle) : nullptr;
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
    MonoObject* exception = nullptr;
    MonoObject* result = cloudsdk::InvokeManaged(resolved, object, args, exception);
    if (exception != nullptr) {
        cloudsdk::HoldThrownException(exception);
        throw exception;
    }
    return result;
}

bool CCloudWrapperPtr::Invoke(bool defaultResult, const char* name, void** args) {
    MonoObject* result = Invoke(name, args);
    // A result of another type than System.Boolean is as unusable as none.
    if (result == nullptr || MonoAPI::mono_object_get_class_ptr(result) != MonoAPI::mono_get_boolean_class_ptr()) {
        g_debug.error("Result is invalid (bool)");
        return defaultResult;
    }
    return *static_cast<const uint8_t*>(MonoAPI::mono_object_unbox_ptr(result)) != 0;
}

std::string CCloudWrapperPtr::Invoke(std::string& out, const char* name, void** args) {
    MonoObject* result = Invoke(name, args);
    if (result == nullptr || MonoAPI::mono_object_get_class_ptr(result) != MonoAPI::mono_get_string_class_ptr()) {
        g_debug.error("Result is invalid (string)");
    } else {
        out = gc2std(reinterpret_cast<MonoString*>(result));
    }
    return out;
}

}  // namespace CloudSDKCppBridge
