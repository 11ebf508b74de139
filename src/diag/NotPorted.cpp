#include <CloudSDKCppBridge.h>

void LogNotPorted(const char* name) {
    // A logger for this one record; the feature's name is both the place and the subject.
    EvDebug log(nullptr);
    log.Error(name, "%s is not ported to linux", name);
}
