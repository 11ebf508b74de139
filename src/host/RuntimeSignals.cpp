#include "host/RuntimeSignals.h"

#include <CloudSDKCppBridge.h>

#include "platform/MonoAPI.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <csignal>

namespace cloudsdk::runtimesignals {

namespace {

// Plain data, written once before g_recorded is set and only read after it.
sigset_t g_runtimeSignals;
std::atomic<bool> g_recorded{false};

// The base address of the object that holds `address`, or null.
void* ObjectOf(const void* address) {
    Dl_info info{};
    return dladdr(address, &info) != 0 ? info.dli_fbase : nullptr;
}

bool HandledBy(int signal, void* runtimeObject) {
    struct sigaction action {};
    if (sigaction(signal, nullptr, &action) != 0) {
        return false;
    }
    const void* handler = (action.sa_flags & SA_SIGINFO) != 0 ? reinterpret_cast<const void*>(action.sa_sigaction)
                                                               : reinterpret_cast<const void*>(action.sa_handler);
    if (handler == reinterpret_cast<const void*>(SIG_DFL) || handler == reinterpret_cast<const void*>(SIG_IGN)) {
        return false;
    }
    return ObjectOf(handler) == runtimeObject;
}

// The runtime detaches an exiting thread from a destructor of thread-specific data;
// glibc runs the destructors of C++ thread-local objects before those.
struct ThreadExitHook {
    ~ThreadExitHook() { UnblockInThisThread(); }
    void Arm() const {}
};

}  // namespace

void Record() {
    void* runtimeObject = ObjectOf(reinterpret_cast<const void*>(MonoAPI::mono_jit_init_ptr));
    if (runtimeObject == nullptr) {
        return;
    }
    sigemptyset(&g_runtimeSignals);
    // Not SIGQUIT, SIGABRT or SIGPIPE: the host may want those for itself, and the runtime
    // does not need them on every thread.
    for (int signal : {SIGSEGV, SIGFPE, SIGBUS, SIGILL}) {
        if (HandledBy(signal, runtimeObject)) {
            sigaddset(&g_runtimeSignals, signal);
        }
    }
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
        if (HandledBy(signal, runtimeObject)) {
            sigaddset(&g_runtimeSignals, signal);
        }
    }
    g_recorded.store(true, std::memory_order_release);
}

void UnblockInThisThread() {
    if (g_recorded.load(std::memory_order_acquire)) {
        pthread_sigmask(SIG_UNBLOCK, &g_runtimeSignals, nullptr);
    }
}

void UnblockAgainAtThreadExit() {
    // Made on the thread's first call, destroyed at its exit.
    thread_local const ThreadExitHook hook;
    hook.Arm();
}

}  // namespace cloudsdk::runtimesignals
