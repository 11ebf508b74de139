#include "platform/ZrThread.h"

#include <system_error>
#include <thread>

bool ZrThread::createThread(Function function, void* arg) {
    try {
        std::thread(function, arg).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}
