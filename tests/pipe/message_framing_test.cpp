#include "pipe/message_framing.h"

#include <gtest/gtest.h>

#include "pipe/pipe_texts.h"

using namespace varnex;
using Messages = std::vector<std::string>;

namespace {

Messages feed(MessageFramer &framer, const std::string &bytes) {
    return framer.feed(bytes.data(), bytes.size());
}

TEST(MessageFramer, EveryMessageOfOneReadIsDeliveredInOrder) {
    MessageFramer framer;
    EXPECT_EQ(feed(framer, std::string("A,1,2\0B,3,4\0\0", 13)), (Messages{"A,1,2", "B,3,4", ""}));
}

TEST(MessageFramer, AMessageSplitAcrossReadsArrivesWhole) {
    MessageFramer framer;
    EXPECT_EQ(feed(framer, "ABC,1,12"), Messages{});
    EXPECT_EQ(feed(framer, std::string(".5\0XY", 5)), Messages{"ABC,1,12.5"});
    EXPECT_EQ(framer.pendingSize(), 2u);
    framer.reset();
    EXPECT_EQ(feed(framer, std::string("Z\0", 2)), Messages{"Z"});
}

TEST(MessageFramer, ARunWithoutNulIsCutAtTheBound) {
    MessageFramer framer;
    const std::string run(MessageFramer::kMaxPending + 10, 'x');
    const Messages out = feed(framer, run);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].size(), MessageFramer::kMaxPending + 1);
    EXPECT_EQ(framer.pendingSize(), 9u);
}

TEST(PipeTexts, LogLinesAndPointerNotation) {
    EXPECT_EQ(pointerText(0x12ab, 4), "000012AB");
    EXPECT_EQ(pointerText(0xDEADBEEF, 4), "DEADBEEF");
    EXPECT_EQ(pointerText(0x1, 8), "0000000000000001");
    EXPECT_EQ(registrationText(0x12ab, true), "RegisterOrderFunc: [" + pointerText(0x12ab) + "], ok: 1");
    EXPECT_EQ(checkSignalText("ABC,1,12.5"), "0. checkSignal: ABC,1,12.5");
    EXPECT_EQ(callbackResultText("ABC,1,12.5", false), "1. callBackOrderFunc: ABC,1,12.5, OK:false");
}

}  // namespace
