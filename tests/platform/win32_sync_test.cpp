#include "win32_sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

TEST(Win32Sync, ManualResetEventStaysSetUntilReset) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    SetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    ResetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(Win32Sync, AutoResetEventReleasesOneWait) {
    HANDLE event = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(Win32Sync, TimedWaitEndsWhenAnotherThreadSets) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto started = std::chrono::steady_clock::now();
    std::thread setter([event] {
        Sleep(30);
        SetEvent(event);
    });
    EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
    setter.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
    CloseHandle(event);
}

TEST(Win32Sync, CriticalSectionMayBeEnteredAgainByItsHolder) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);
    std::atomic<bool> entered{false};
    std::thread other([&] {
        EnterCriticalSection(&section);
        entered = true;
        LeaveCriticalSection(&section);
    });
    other.join();
    EXPECT_TRUE(entered);
    DeleteCriticalSection(&section);
}

namespace {
void Signal(void* event) { SetEvent(static_cast<HANDLE>(event)); }
}  // namespace

TEST(Win32Sync, BeginThreadRunsDetachedAndCanBeMadeToFail) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(_beginthread(Signal, 0, event), static_cast<uintptr_t>(-1));
    EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);

    ResetEvent(event);
    SetThreadStartFailureForTesting(true);
    EXPECT_EQ(_beginthread(Signal, 0, event), static_cast<uintptr_t>(-1));
    SetThreadStartFailureForTesting(false);
    EXPECT_EQ(WaitForSingleObject(event, 50), WAIT_TIMEOUT);
    CloseHandle(event);
}
