#include <CloudSDKCppBridge.h>

#include "host/ManagedInvoke.h"
#include "host/RuntimeEntry.h"

void LogException(const char* where, MonoObject* exception) {
    EvDebug logger(nullptr);  // one logger per record
    // Without the runtime there is no class to name (and no exception to have come from it).
    const char* className = cloudsdk::EnterRuntime() ? cloudsdk::ExceptionClassName(exception) : "";
    logger.Error(where, "Exception caught in bridge - %s\n", className);
}
