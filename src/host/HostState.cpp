// The process-wide state of the runtime host. Defined in one unit so that static
// initialisation creates it in this order (and unloading destroys it in reverse): the
// version text, the logger, the start-up lock, the start-up event.

#include <CloudSDKCppBridge.h>

MonoDomain* g_domain = nullptr;
MonoImage* g_image = nullptr;
std::string g_AzuremonoVersion;
EvDebug g_debug(nullptr);

namespace CloudSDKCppBridge {

bool CCloudWrapperPtr::c_AzuremonoInitStatus = false;
bool CCloudWrapperPtr::c_AzuremonoThreadRunning = false;
// Both have nothing to destroy at exit (see Utility.h): a late constructor can still use
// them while exit() runs the static destructors.
ZrCriticalSection CCloudWrapperPtr::c_AzuremonoInitCS;
ZrEvent CCloudWrapperPtr::c_AzuremonoInitEvent(false);

}  // namespace CloudSDKCppBridge
