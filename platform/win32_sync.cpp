#include "win32_sync.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

void InitializeCriticalSection(CRITICAL_SECTION* section) {
    // Win32 critical sections may be entered again by the thread that holds them.
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&section->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void EnterCriticalSection(CRITICAL_SECTION* section) { pthread_mutex_lock(&section->mutex); }

void LeaveCriticalSection(CRITICAL_SECTION* section) { pthread_mutex_unlock(&section->mutex); }

void DeleteCriticalSection(CRITICAL_SECTION* section) { pthread_mutex_destroy(&section->mutex); }

namespace {

struct Event {
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled;
    bool manualReset;
};

std::atomic<bool> threadStartFails{false};

struct ThreadStart {
    void (*start)(void*);
    void* argument;
};

void* RunThread(void* raw) {
    ThreadStart launch = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    launch.start(launch.argument);
    return nullptr;
}

}  // namespace

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    if (name != nullptr) return nullptr;
    Event* event = new Event;
    event->signalled = initialState != FALSE;
    event->manualReset = manualReset != FALSE;
    return event;
}

BOOL SetEvent(HANDLE handle) {
    if (handle == nullptr) return FALSE;
    Event* event = static_cast<Event*>(handle);
    // Notified under the lock: a waiter that wakes may close the handle at
    // once, and must not free the condition variable under us.
    std::lock_guard<std::mutex> hold(event->mutex);
    event->signalled = true;
    event->changed.notify_all();
    return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
    if (handle == nullptr) return FALSE;
    Event* event = static_cast<Event*>(handle);
    std::lock_guard<std::mutex> hold(event->mutex);
    event->signalled = false;
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    if (handle == nullptr) return WAIT_FAILED;
    Event* event = static_cast<Event*>(handle);
    std::unique_lock<std::mutex> hold(event->mutex);
    auto isSet = [event] { return event->signalled; };
    if (milliseconds == INFINITE) {
        event->changed.wait(hold, isSet);
    } else if (!event->changed.wait_for(hold, std::chrono::milliseconds(milliseconds), isSet)) {
        return WAIT_TIMEOUT;
    }
    if (!event->manualReset) event->signalled = false;
    return WAIT_OBJECT_0;
}

BOOL CloseHandle(HANDLE handle) {
    if (handle == nullptr) return FALSE;
    delete static_cast<Event*>(handle);
    return TRUE;
}

void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

uintptr_t _beginthread(void (*start)(void*), unsigned stackSize, void* argument) {
    if (threadStartFails.load()) return static_cast<uintptr_t>(-1);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0) pthread_attr_setstacksize(&attributes, stackSize);
    ThreadStart* launch = new ThreadStart{start, argument};
    pthread_t thread;
    int failed = pthread_create(&thread, &attributes, RunThread, launch);
    pthread_attr_destroy(&attributes);
    if (failed != 0) {
        delete launch;
        return static_cast<uintptr_t>(-1);
    }
    return static_cast<uintptr_t>(thread);
}

void SetThreadStartFailureForTesting(bool fail) { threadStartFails.store(fail); }
