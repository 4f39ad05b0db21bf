#include "api/destination_health.h"

#include <gtest/gtest.h>

using namespace varnex;

namespace {

using Change = DestinationHealth::Change;

TEST(DestinationHealth, OneTryPerPauseWhileDownThePauseDoublingToAMinute) {
    DestinationHealth health;
    uint64_t now = 10000;
    const auto first = health.admit(now);
    ASSERT_TRUE(first.go);
    EXPECT_FALSE(first.probe);
    EXPECT_EQ(health.settle(first, TryResult::Down, now), Change::WentDown);
    // The pause after each failed try in a row.
    for (uint64_t pause : {1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000}) {
        SCOPED_TRACE(pause);
        const auto early = health.admit(now + pause - 1);
        EXPECT_FALSE(early.go);
        EXPECT_EQ(early.nextTryInMs, 1u);
        EXPECT_EQ(early.downSinceMs, 10000u);
        now += pause;
        const auto probe = health.admit(now);
        ASSERT_TRUE(probe.go && probe.probe);
        // While the one try of the pause runs, nobody else waits on it.
        const auto other = health.admit(now);
        EXPECT_FALSE(other.go);
        EXPECT_EQ(other.nextTryInMs, 0u);
        EXPECT_EQ(health.settle(probe, TryResult::Down, now), Change::None);
    }
}

TEST(DestinationHealth, APositionTakenBringsItBackAtOnceAndOnlyTheProbeLengthensThePause) {
    DestinationHealth health;
    const auto a = health.admit(0), b = health.admit(0);  // both let through while it was up
    EXPECT_EQ(health.settle(a, TryResult::Down, 0), Change::WentDown);
    EXPECT_EQ(health.settle(b, TryResult::Down, 500), Change::None);
    EXPECT_EQ(health.pauseMs(), 1000u);
    // Refusing one position is no sign that it is back: the pause doubles.
    const auto refused = health.admit(1000);
    ASSERT_TRUE(refused.probe);
    EXPECT_EQ(health.settle(refused, TryResult::Refused, 1000), Change::None);
    EXPECT_EQ(health.pauseMs(), 2000u);
    const auto probe = health.admit(3000);
    ASSERT_TRUE(probe.probe);
    EXPECT_EQ(health.settle(probe, TryResult::Reached, 3200), Change::CameBack);
    const auto after = health.admit(3200);
    EXPECT_TRUE(after.go && !after.probe);
    EXPECT_EQ(health.reachedCount(), 1u);
    // Up, a refused position leaves it up.
    EXPECT_EQ(health.settle(after, TryResult::Refused, 3300), Change::None);
    EXPECT_FALSE(health.down());
}

TEST(DestinationHealth, AnAbandonedProbeLetsTheNextCallerTry) {
    DestinationHealth health;
    health.settle(health.admit(0), TryResult::Down, 0);
    const auto probe = health.admit(1000);
    ASSERT_TRUE(probe.probe);
    health.abandon(probe);
    EXPECT_TRUE(health.admit(1000).probe);
}

TEST(DestinationHealth, UnderTheLibrarysRuleOnlyTheLibraryTriesOnceASecondAfterEachFailedTry) {
    DestinationHealth health(kLibraryTries);
    // Up, everyone goes: the first failure is the host's.
    const auto first = health.admit(0);
    ASSERT_TRUE(first.go);
    EXPECT_EQ(health.settle(first, TryResult::Down, 0), Change::WentDown);
    uint64_t now = 0;
    for (int failed = 0; failed < 5; ++failed) {
        SCOPED_TRACE(failed);
        now += 1000;
        const auto host = health.admit(now);
        EXPECT_FALSE(host.go);
        EXPECT_EQ(host.nextTryInMs, 0u);  // "being tried now"
        EXPECT_FALSE(health.admit(now - 1, true).go);
        const auto library = health.admit(now, true);
        ASSERT_TRUE(library.go && library.probe);
        // A try that takes a while: the next is a second after it ended.
        now += 700;
        EXPECT_EQ(health.settle(library, TryResult::Down, now), Change::None);
    }
    EXPECT_EQ(health.pauseMs(), 1000u);
    const auto back = health.admit(now + 1000, true);
    EXPECT_EQ(health.settle(back, TryResult::Reached, now + 1000), Change::CameBack);
    EXPECT_TRUE(health.admit(now + 1000).go);
    EXPECT_EQ(
        wentDownLine("tcp://h:1", "refused", kLibraryTries),
        "varnex: tcp://h:1 is down (refused); its relays are skipped and kept owed; the library tries it "
        "again 1 s after each failed try\r\n");
    EXPECT_EQ(
        wentDownLine("order pipe", "no receiver", kHostTries),
        "varnex: order pipe is down (no receiver); its relays are skipped, with one try after each pause "
        "of 1 s doubling to 60 s\r\n");
}

TEST(DestinationHealth, TheLogSaysSinceWhenAndWhenItIsTriedNext) {
    DestinationHealth::Admission skipped;
    skipped.nextTryInMs = 1001;
    EXPECT_EQ(downText("server down", "2026/12/09 10:00:00", skipped),
              "server down since 2026/12/09 10:00:00, next try in 2 s");
    skipped.nextTryInMs = 0;
    EXPECT_EQ(downText("busy", "2026/12/09 10:00:00", skipped),
              "busy since 2026/12/09 10:00:00, being tried now");
}

}  // namespace
