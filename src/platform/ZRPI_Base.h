#pragma once

#include <string>

// Platform facts the library needs.
class ZRPI_Base {
public:
    // CLOUDSDK_HOME when set and not empty; otherwise the directory that holds this
    // library, so that an installed lib/ with lib/CloudSDKWrapper/ works wherever it is.
    std::string getHomeDirectory() const;
};
