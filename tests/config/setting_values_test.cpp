#include "config/setting_values.h"

#include <gtest/gtest.h>

#include <climits>

using namespace varnex;

namespace {

using Ids = std::vector<std::string>;

TEST(SettingValues, SwitchIsOnOnlyForTheTwoExactTexts) {
    EXPECT_TRUE(isSwitchOn("True"));
    EXPECT_TRUE(isSwitchOn("true"));
    for (const char *off : {"", "TRUE", "tRue", "1", "yes", "True ", " true", "True1", "Tru", "False"})
        EXPECT_FALSE(isSwitchOn(off)) << '"' << off << '"';
}

TEST(SettingValues, AckTimeoutOfZeroOrLessMeansTheDefault) {
    EXPECT_EQ(effectiveAckTimeout(0), kDefaultAckTimeoutMs);
    EXPECT_EQ(effectiveAckTimeout(-1), kDefaultAckTimeoutMs);
    EXPECT_EQ(effectiveAckTimeout(INT32_MIN), kDefaultAckTimeoutMs);
    EXPECT_EQ(effectiveAckTimeout(1), 1);
    EXPECT_EQ(effectiveAckTimeout(250), 250);
    EXPECT_EQ(effectiveAckTimeout(INT32_MAX), INT32_MAX);
}

TEST(SettingValues, ClientIdentifiersKeepEmptyOnesAndTheirFirstPlace) {
    EXPECT_EQ(clientIdentifiers(""), Ids{""});
    EXPECT_EQ(clientIdentifiers("A,B"), (Ids{"A", "B"}));
    EXPECT_EQ(clientIdentifiers("B,A,B,A"), (Ids{"B", "A"}));
    EXPECT_EQ(clientIdentifiers("A,,B,"), (Ids{"A", "", "B"}));
    EXPECT_EQ(clientIdentifiers(",,"), Ids{""});
    EXPECT_EQ(clientIdentifiers("A , A,A"), (Ids{"A ", " A", "A"}));
    EXPECT_EQ(clientIdentifiers("abc,ABC"), (Ids{"abc", "ABC"}));
}

}  // namespace
