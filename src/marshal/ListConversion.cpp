// Managed lists to native vectors, walked with an enumerator class of the wrapper
// assembly: static GetEnumerator(list), then MoveNext() and Current() per element.

#include "marshal/CloudSDKHelper.h"

#include "host/ManagedInvoke.h"
#include "marshal/ManagedObjectsInternal.h"
#include "marshal/RecordConversionInternal.h"
#include "platform/MonoAPI.h"

#include <cstdint>
#include <vector>

namespace {

using cloudsdk::Arguments;
using cloudsdk::Binding;
using cloudsdk::kNoArguments;

// The enumeration protocol of one enumerator class, looked up afresh for every walk.
struct Enumeration {
    const char* className;
    cloudsdk::FittedMethod getEnumerator;
    cloudsdk::FittedMethod moveNext;
    cloudsdk::FittedMethod current;
};

bool FindEnumeration(const char* className, Enumeration& protocol) {
    MonoClass* klass =
        MonoAPI::mono_class_from_name_ptr(g_image, cloudsdk::marshal::kWrapperNamespace, className);
    if (klass == nullptr) {
        g_debug.error("Failed to get enumerator class [%s]", className);
        return false;
    }
    protocol.className = className;
    protocol.getEnumerator = cloudsdk::FindFittingMethod(klass, "GetEnumerator", Binding::Static,
                                                         Arguments(static_cast<MonoObject*>(nullptr)));
    protocol.moveNext = cloudsdk::FindFittingMethod(klass, "MoveNext", Binding::Instance, kNoArguments);
    protocol.current = cloudsdk::FindFittingMethod(klass, "Current", Binding::Instance, kNoArguments);
    if (!protocol.getEnumerator || !protocol.moveNext || !protocol.current) {
        g_debug.error("Failed to get enumerator method [%s]", className);
        return false;
    }
    return true;
}

// Invokes one step of the protocol; null for an exception or a null result, both logged.
MonoObject* Step(const Enumeration& protocol, const cloudsdk::FittedMethod& method, MonoObject* enumerator) {
    const cloudsdk::InvokeResult step = cloudsdk::InvokeFitted(method, enumerator, kNoArguments);
    MonoObject* result = cloudsdk::ResultOrLogged(step, "Enumerator method [%s] of [%s]",
                                                  MonoAPI::mono_method_get_name_ptr(method.Method()), protocol.className);
    if (result == nullptr && step.ran && step.exception == nullptr) {
        g_debug.error("Enumerator method [%s] of [%s] returned null", MonoAPI::mono_method_get_name_ptr(method.Method()),
                      protocol.className);
    }
    return result;
}

MonoObject* StartEnumeration(const Enumeration& protocol, MonoObject* list) {
    const cloudsdk::InvokeResult started = cloudsdk::InvokeFitted(protocol.getEnumerator, nullptr, Arguments(list));
    MonoObject* enumerator =
        cloudsdk::ResultOrLogged(started, "Enumerator method [GetEnumerator] of [%s]", protocol.className);
    if (enumerator == nullptr && started.ran && started.exception == nullptr) {
        g_debug.error("Failed to invoke get enumerator method [%s]", protocol.className);
    }
    return enumerator;
}

// The caller's vector during a walk: emptied at the start, so that nothing it held before
// can pass for a result, and emptied again unless the list was read whole, so that no part
// of a list is ever handed over (also when a native exception leaves the walk).
template <class Record>
class Delivery {
public:
    explicit Delivery(std::vector<Record>& out) : m_out(out) { m_out.clear(); }
    ~Delivery() {
        if (!m_delivered) {
            m_out.clear();
        }
    }
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;

    bool Deliver() {
        m_delivered = true;
        return true;
    }

private:
    std::vector<Record>& m_out;
    bool m_delivered = false;
};

enum class Advance { Element, End, Failed };

// Moves to the next element and hands it out.
Advance NextElement(const Enumeration& protocol, MonoObject* enumerator, MonoObject*& element) {
    MonoObject* more = Step(protocol, protocol.moveNext, enumerator);
    if (more == nullptr) {
        return Advance::Failed;
    }
    if (MonoAPI::mono_object_get_class_ptr(more) != MonoAPI::mono_get_boolean_class_ptr()) {
        g_debug.error("Enumerator method [MoveNext] of [%s] did not return a Boolean", protocol.className);
        return Advance::Failed;
    }
    if (*static_cast<const uint8_t*>(MonoAPI::mono_object_unbox_ptr(more)) == 0) {
        return Advance::End;
    }
    element = Step(protocol, protocol.current, enumerator);
    return element != nullptr ? Advance::Element : Advance::Failed;
}

}  // namespace

namespace CloudSDKCppBridgeHelper {

template <class Record, class ListHandle, class ElementHandle>
bool CCloudSDKHelper::ConvertList_ManagedToNative(std::vector<Record>& out, ListHandle list, ElementHandle,
                                                  const char* enumeratorClassName) {
    Delivery<Record> delivery(out);
    if (list == nullptr) {
        return delivery.Deliver();
    }
    Enumeration protocol{};
    if (!FindEnumeration(enumeratorClassName, protocol)) {
        return false;
    }
    MonoObject* enumerator = StartEnumeration(protocol, list);
    if (enumerator == nullptr) {
        return false;
    }
    cloudsdk::marshal::RecordReader reader;
    bool whole = true;
    for (;;) {
        MonoObject* element = nullptr;
        switch (NextElement(protocol, enumerator, element)) {
            case Advance::End: return whole && delivery.Deliver();
            case Advance::Failed: return false;
            case Advance::Element: break;
        }
        // Read on after a record that failed, so that every element's fault is logged.
        out.emplace_back();
        whole = reader.Read(out.back(), element) && whole;
    }
}

template bool CCloudSDKHelper::ConvertList_ManagedToNative<SStorageAccountInfo, MonoObject*, MonoObject*>(
    std::vector<SStorageAccountInfo>&, MonoObject*, MonoObject*, const char*);
template bool CCloudSDKHelper::ConvertList_ManagedToNative<SString, MonoObject*, MonoObject*>(
    std::vector<SString>&, MonoObject*, MonoObject*, const char*);

bool CCloudSDKHelper::ConvertStorageAccountInfoList_ManagedToNative(std::vector<SStorageAccountInfo>& out,
                                                                    MonoObject* list) {
    return ConvertList_ManagedToNative(out, list, static_cast<MonoObject*>(nullptr),
                                       "SStorageAccountInfoLibListEnumerator");
}

bool CCloudSDKHelper::ConvertStringList_ManagedToNative(std::vector<SString>& out, MonoObject* list) {
    return ConvertList_ManagedToNative(out, list, static_cast<MonoObject*>(nullptr), "SStringListEnumerator");
}

}  // namespace CloudSDKCppBridgeHelper
