#pragma once

#include <CloudSDKCppBridge/Export.h>
#include <CloudSDKCppBridge/GcHandle.h>
#include <CloudSDKCppBridge/MonoTypes.h>
#include <CloudSDKCppBridge/Utility.h>

#include <string>

namespace cloudsdk {
struct ArgumentList;  // an argument array with the shape of each slot (library internal)
}

namespace CloudSDKCppBridge {

// The runtime host's view of one managed wrapper object. Each bridge object owns exactly
// one; it holds the managed object through one strong GC handle and calls its methods by
// name. The class itself is internal; only its process-wide start-up state is exported.
class CCloudWrapperPtr {
public:
    CCloudWrapperPtr();
    ~CCloudWrapperPtr();
    CCloudWrapperPtr(const CCloudWrapperPtr&) = delete;
    CCloudWrapperPtr& operator=(const CCloudWrapperPtr&) = delete;

    // Starts the runtime if needed and creates the managed wrapper object.
    bool Init();
    // Attaches the calling thread to the domain; false when the runtime is not up.
    bool ThreadAttach();

    // Calls the managed method `name` on the wrapper object, if its declaration fits
    // `args`. Returns the result object or null; throws the managed exception (as
    // MonoObject*) if the method raised one.
    MonoObject* Invoke(const char* name, const cloudsdk::ArgumentList& args);
    // The same, reading the result as a managed Boolean (defaultResult when null).
    bool Invoke(bool defaultResult, const char* name, const cloudsdk::ArgumentList& args);
    // The same, reading the result as a managed string into `out` (unchanged when null).
    std::string Invoke(std::string& out, const char* name, const cloudsdk::ArgumentList& args);

    static CLOUDSDK_API bool c_AzuremonoInitStatus;
    static CLOUDSDK_API bool c_AzuremonoThreadRunning;
    static CLOUDSDK_API ZrCriticalSection c_AzuremonoInitCS;
    static CLOUDSDK_API ZrEvent c_AzuremonoInitEvent;

private:
    bool StartMonoThread();
    static void* MonoThread(void* home);
    static bool InitMono(const std::string& home);
    bool CreateManagedObject();

    MonoClass* m_baseClass;
    MonoClass* m_derivedClass;
    CGcHandle m_objectHandle;
    bool m_initialized;
};

}  // namespace CloudSDKCppBridge
