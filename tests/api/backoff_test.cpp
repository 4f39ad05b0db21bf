#include "api/backoff.h"

#include <gtest/gtest.h>

using namespace varnex;

namespace {

TEST(Backoff, PausesDoubleFromTheFirstUpToTheLongestAndTheTextSaysSo) {
    const uint64_t pauses[] = {0, 1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000};
    for (uint32_t failures = 0; failures < 9; ++failures)
        EXPECT_EQ(kRetryBackoff.pauseAfter(failures), pauses[failures]) << failures;
    EXPECT_EQ(kRetryBackoff.pauseAfter(UINT32_MAX), 60000u);
    EXPECT_EQ(kRetryBackoff.text(), "1 s doubling to 60 s");
    EXPECT_EQ((Backoff{5, 7}).pauseAfter(2), 7u);
    // The library's own tries keep one pace.
    EXPECT_EQ(kLibraryRetry.pauseAfter(1), 1000u);
    EXPECT_EQ(kLibraryRetry.pauseAfter(UINT32_MAX), 1000u);
    EXPECT_EQ(kLibraryRetry.text(), "1 s");
}

}  // namespace
