#include "api/delivery_state.h"

#include <gtest/gtest.h>

using namespace varnex;

namespace {

Destinations all() {
    return Destinations()
        .add(Destination::Pipe)
        .add(Destination::Tcp)
        .add(Destination::SignalFile)
        .add(Destination::SignalDebugFile);
}

TEST(DeliveryState, OnlyDestinationsThatMissedTheCurrentPositionAreDue) {
    DeliveryState state;
    state.positionChanged();
    state.record(Destination::Pipe, true, 0);
    state.record(Destination::Tcp, false, 0);
    state.record(Destination::SignalFile, true, 0);
    EXPECT_EQ(state.dueAt(all(), 0), Destinations().add(Destination::Tcp).add(Destination::SignalDebugFile));
    // A destination switched off is never due.
    EXPECT_EQ(state.dueAt(Destinations().add(Destination::Pipe), 0), Destinations());
    state.positionChanged();
    EXPECT_EQ(state.dueAt(all(), 0), all());
    // While the library takes a position there, nobody else is due to: it
    // stays lacking, and is due again once that delivery ends.
    state.beginDelivery(Destination::Tcp);
    EXPECT_FALSE(state.dueAt(all(), 0).has(Destination::Tcp));
    EXPECT_EQ(state.lacking(all()), all());
    state.endDelivery(Destination::Tcp);
    EXPECT_EQ(state.dueAt(all(), 0), all());
}

TEST(DeliveryState, MissesAreTriedOnTheNextSignalThenAfterDoublingPausesUpToAMinute) {
    // The pause after each miss in a row: none, then 1 s doubling to 60 s.
    const uint64_t pauses[] = {0, 1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000};
    DeliveryState state;
    uint64_t now = 5000;
    for (uint64_t pause : pauses) {
        state.record(Destination::Tcp, false, now);
        if (pause > 0) EXPECT_FALSE(state.dueAt(all(), now + pause - 1).has(Destination::Tcp)) << pause;
        EXPECT_TRUE(state.dueAt(all(), now + pause).has(Destination::Tcp)) << pause;
        now += pause;
    }
    // A delivery ends the back-off: the next miss is tried with the next signal again.
    state.record(Destination::Tcp, true, now);
    EXPECT_FALSE(state.dueAt(all(), now).has(Destination::Tcp));
    state.positionChanged();
    state.record(Destination::Tcp, false, now);
    EXPECT_TRUE(state.dueAt(all(), now).has(Destination::Tcp));
}

TEST(DeliveryState, AMissThatTheDestinationsHealthCoversOrAReachedDestinationEndsTheSymbolsOwnPause) {
    DeliveryState state;
    ReachedCounts reached;
    reached.of[static_cast<int>(Destination::Pipe)] = 7;
    state.record(Destination::Pipe, false, 0, true, 7);
    state.record(Destination::Pipe, false, 0, true, 7);  // second miss in a row: a 1 s pause
    EXPECT_FALSE(state.dueAt(all(), 10, reached).has(Destination::Pipe));
    // Another symbol got through since: the destination is back.
    reached.of[static_cast<int>(Destination::Pipe)] = 8;
    EXPECT_TRUE(state.dueAt(all(), 10, reached).has(Destination::Pipe));
    // The destination went down: no pause of this symbol's own.
    state.record(Destination::Tcp, false, 0);
    state.record(Destination::Tcp, false, 0, false);
    EXPECT_TRUE(state.dueAt(all(), 0).has(Destination::Tcp));
    // Each destination keeps its own pause: one that is reached ends only its own.
    state.record(Destination::SignalFile, false, 0);
    state.record(Destination::SignalFile, false, 0);
    state.record(Destination::Pipe, true, 0);
    EXPECT_FALSE(state.dueAt(all(), 10).has(Destination::SignalFile));
    EXPECT_TRUE(state.dueAt(all(), 1000).has(Destination::SignalFile));
}

TEST(DeliveryState, TheResendLineNamesTheDueDestinationsInPipelineOrder) {
    EXPECT_EQ(resendText("ABC", Destinations().add(Destination::Tcp).add(Destination::Pipe)),
              "ABC resend: pipe, tcp");
    EXPECT_EQ(resendText("", all()), " resend: pipe, tcp, signal file, signal debug file");
}

}  // namespace
