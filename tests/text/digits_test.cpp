#include "text/digits.h"

#include <gtest/gtest.h>

#include <limits>

using namespace varnex;

namespace {

TEST(Digits, HexIsAFixedWidthFieldMostSignificantFirst) {
    const struct {
        uint64_t value;
        int count;
        const char *text;
    } cases[] = {
        {0x0, 2, "00"},
        {0x7E, 2, "7E"},
        {0xCBF29CE484222325ull, 16, "CBF29CE484222325"},
        {0x12AB, 2, "AB"},  // digits above the field are dropped
        {0xFFFFFFFFFFFFFFFFull, 18, "00FFFFFFFFFFFFFFFF"},
    };
    for (const auto &c : cases) {
        std::string out = "x";
        appendHex(out, c.value, c.count);
        EXPECT_EQ(out, std::string("x") + c.text) << c.value << " in " << c.count;
    }
}

TEST(Digits, DecimalIsPaddedToItsWidthButNeverCut) {
    const struct {
        int64_t value;
        int width;
        const char *text;
    } cases[] = {
        {0, 1, "0"},
        {7, 2, "07"},
        {-5, 2, "-05"},
        {10000, 4, "10000"},
        {std::numeric_limits<int64_t>::min(), 1, "-9223372036854775808"},
    };
    for (const auto &c : cases) {
        std::string out = "x";
        appendDecimal(out, c.value, c.width);
        EXPECT_EQ(out, std::string("x") + c.text) << c.value << " in " << c.width;
    }
}

}  // namespace
