#include "common/locks.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>

using namespace varnex;

namespace {

// A waiter behind a holder gives up at its deadline, holding nothing; one
// whose holder lets go in time gets the lock.
TEST(DeadlineLock, AWaiterGivesUpAtItsDeadlineOrGetsTheLockWhenLetGo) {
    DeadlineLock lock;
    ASSERT_TRUE(lock.lockBy(GetTickCount64()));
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(lock.lockBy(start + 50));
    EXPECT_GE(GetTickCount64(), start + 50);
    std::atomic<bool> got{false};
    std::thread waiter([&] { got = lock.lockBy(kNoDeadline); });
    lock.unlock();
    waiter.join();
    EXPECT_TRUE(got);
    EXPECT_FALSE(lock.lockBy(GetTickCount64()));  // the waiter holds it now
    lock.unlock();
    DeadlineGuard guard(lock, GetTickCount64());
    EXPECT_TRUE(static_cast<bool>(guard));
}

}  // namespace
