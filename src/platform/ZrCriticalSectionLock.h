#pragma once

#include <CloudSDKCppBridge/Utility.h>

// Owns a critical section for one scope: enters it (blocking) on construction, leaves it
// on destruction. A null section is ignored.
class ZrCriticalSectionLock {
public:
    explicit ZrCriticalSectionLock(ZrCriticalSection* section) : m_section(section) {
        if (m_section != nullptr) {
            m_section->enter(true);
        }
    }
    ~ZrCriticalSectionLock() {
        if (m_section != nullptr) {
            m_section->leave();
        }
    }
    ZrCriticalSectionLock(const ZrCriticalSectionLock&) = delete;
    ZrCriticalSectionLock& operator=(const ZrCriticalSectionLock&) = delete;

private:
    ZrCriticalSection* m_section;
};
