#include "common/locks.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace varnex;

namespace {

// Waits (at most 10 s) until `count` tickets are out: the holder's and those of the threads waiting.
bool queuedReaches(TicketLock &lock, unsigned long count) {
    for (int i = 0; i < 10000 && lock.queued() != count; ++i) Sleep(1);
    return lock.queued() == count;
}

// Four threads queue behind the holder one after another; the holder then
// lets go and asks again at once, as a host thread sending signal after
// signal for one symbol does. Everyone is served in the order they came,
// the holder last.
TEST(TicketLock, ServesWaitersInTheOrderTheyCameAndNoneJumpsTheQueue) {
    TicketLock lock;
    std::vector<int> served;
    std::vector<std::thread> waiters;
    lock.lock();
    for (int w = 1; w <= 4; ++w) {
        waiters.emplace_back([&, w] {
            TicketGuard turn(lock);
            served.push_back(w);
        });
        ASSERT_TRUE(queuedReaches(lock, 1ul + w));
    }
    lock.unlock();
    lock.lock();
    served.push_back(0);
    lock.unlock();
    for (std::thread &waiter : waiters) waiter.join();
    EXPECT_EQ(served, (std::vector<int>{1, 2, 3, 4, 0}));
    EXPECT_EQ(lock.queued(), 0ul);
}

}  // namespace
