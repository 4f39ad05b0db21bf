#include "text/ascii_case.h"

#include <gtest/gtest.h>

using namespace varnex;

namespace {

// The letters a-z only: the neighbours of both ranges, digits and the bytes
// of the ANSI code page (0xE4 and 0xC4 are a-umlaut and A-umlaut in 1252)
// stay as they are.
TEST(AsciiCase, OnlyTheAsciiLettersChangeCase) {
    EXPECT_EQ(asciiUpper(std::string("abz AZ 09 @[`{ \xE4\xC4 mIxEd")), "ABZ AZ 09 @[`{ \xE4\xC4 MIXED");
    EXPECT_EQ(asciiLower(std::string("abz AZ 09 @[`{ \xE4\xC4 mIxEd")), "abz az 09 @[`{ \xE4\xC4 mixed");
    EXPECT_EQ(asciiUpper('q'), 'Q');
    EXPECT_EQ(asciiUpper('\xE4'), '\xE4');
}

}  // namespace
