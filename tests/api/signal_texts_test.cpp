#include "api/signal_texts.h"

#include <gtest/gtest.h>

#include "text/number_text.h"

using namespace varnex;

namespace {

TEST(SignalTexts, MessagesJoinTheRenderedNumbers) {
    EXPECT_EQ(signalLogText("ABC", toText(1), toText(12.5)), "ABC: 1,12.5");
    EXPECT_EQ(signalLogText("", toText(-3), toText(1234567.0)), ": -3,1.23457e+006");
    EXPECT_EQ(pipeMessage("ABC", "1", "12.5"), "ABC,1,12.5");
    EXPECT_EQ(tcpMessage("-1", "12.5"), "Order,-1,12.5");
    EXPECT_EQ(signalText("2", "3050"), "2 3050");
}

TEST(SignalTexts, PositionLineShowsPreviousOnlyWhenKnown) {
    EXPECT_EQ(positionLogText("ABC", 0, std::nullopt), "ABC qty=\t0");
    EXPECT_EQ(positionLogText("ABC", -2, 1), "ABC qty=\t-2 preQty=\t1");
    EXPECT_EQ(positionLogText("", INT32_MIN, INT32_MAX), " qty=\t-2147483648 preQty=\t2147483647");
}

}  // namespace
