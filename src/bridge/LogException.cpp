#include <CloudSDKCppBridge.h>

#include "host/ManagedCall.h"

void LogException(const char* where, MonoObject* exception) {
    EvDebug logger(nullptr);  // one logger per record
    logger.Error(where, "Exception caught in bridge - %s\n", cloudsdk::ExceptionClassName(exception));
}
