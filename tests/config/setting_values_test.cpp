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

TEST(SettingValues, AckTimeoutOutOfRangeTakesTheDefaultOrTheLongest) {
    const int64_t cases[][2] = {{0, kDefaultAckTimeoutMs},
                                {-1, kDefaultAckTimeoutMs},
                                {INT64_MIN, kDefaultAckTimeoutMs},
                                {1, 1},
                                {250, 250},
                                {kLongestAckTimeoutMs, kLongestAckTimeoutMs},
                                {kLongestAckTimeoutMs + 1, kLongestAckTimeoutMs},
                                {INT32_MAX, kLongestAckTimeoutMs},
                                {4294967295, kLongestAckTimeoutMs}};
    for (const auto &c : cases) EXPECT_EQ(effectiveAckTimeout(c[0]), c[1]) << c[0];
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

TEST(SettingValues, OnlyDailyRotatesTheLogAndNegativeKeepDaysKeepAll) {
    for (const char *daily : {"daily", "Daily", "DAILY"}) EXPECT_EQ(logRotationOf(daily), LogRotation::Daily);
    for (const char *single : {"", "off", "none", "weekly", "daily ", "1"})
        EXPECT_EQ(logRotationOf(single), LogRotation::Single) << single;
    for (const char *known : {"", "Off", "NONE", "single", "no", "daily"})
        EXPECT_TRUE(isKnownLogRotation(known));
    for (const char *unknown : {"weekly", "True", "dialy"}) EXPECT_FALSE(isKnownLogRotation(unknown));
    EXPECT_EQ(effectiveKeepDays(7), 7);
    EXPECT_EQ(effectiveKeepDays(0), 0);
    EXPECT_EQ(effectiveKeepDays(-3), 0);
    EXPECT_EQ(effectiveKeepDays(INT32_MIN), 0);
    EXPECT_EQ(effectiveKeepDays(99999999999), 0);
}

}  // namespace
