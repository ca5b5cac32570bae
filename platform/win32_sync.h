// Win32 synchronisation and thread start as the capture library uses them:
// a recursive critical section, events with timed waits, Sleep and the
// run-time library's detached thread start.
#pragma once

#include <pthread.h>

#include "win32_types.h"

struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

struct CRITICAL_SECTION {
    pthread_mutex_t mutex;
};

void InitializeCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);

constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;

// Unnamed events only; the name must be null. Returns null on failure.
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                    LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE event, DWORD milliseconds);
BOOL CloseHandle(HANDLE event);

void Sleep(DWORD milliseconds);

// Starts a detached thread; answers (uintptr_t)-1 when it cannot.
uintptr_t _beginthread(void (*start)(void*), unsigned stackSize, void* argument);

// Lets a test see how its caller copes with a thread that cannot start.
void SetThreadStartFailureForTesting(bool fail);
