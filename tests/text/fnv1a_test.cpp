#include "text/fnv1a.h"

#include <gtest/gtest.h>

using namespace varnex;

namespace {

// The published values of FNV-1a; the empty text gives the offset basis.
// Other processes and files already written rely on these.
TEST(Fnv1a, The64BitHashGivesThePublishedValues) {
    EXPECT_EQ(fnv1a64(""), 0xCBF29CE484222325ull);
    EXPECT_EQ(fnv1a64("a"), 0xAF63DC4C8601EC8Cull);
    EXPECT_EQ(fnv1a64("foobar"), 0x85944171F73967E8ull);
}

// The 32-bit hash of the upper-cased text: 0xC40BF6CC is FNV-1a of "A" and
// 0x9DE507A8 of "FOOBAR". Bytes past ASCII are not folded.
TEST(Fnv1a, The32BitHashIsThatOfTheTextWithAsciiLettersUpperCased) {
    EXPECT_EQ(fnv1a32IgnoringCase(""), 0x811C9DC5u);
    EXPECT_EQ(fnv1a32IgnoringCase("a"), 0xC40BF6CCu);
    EXPECT_EQ(fnv1a32IgnoringCase("foobar"), 0x9DE507A8u);
    EXPECT_EQ(fnv1a32IgnoringCase("FooBaR"), 0x9DE507A8u);
    EXPECT_NE(fnv1a32IgnoringCase("\xE4"), fnv1a32IgnoringCase("\xC4"));
}

}  // namespace
