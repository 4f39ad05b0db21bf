#include "text/text_splitter.h"

#include <gtest/gtest.h>

#include <stdexcept>

using varnex::TextSplitter;

namespace {

std::vector<std::string> tokens(const std::string &text) {
    TextSplitter splitter(text, ",");
    std::vector<std::string> out;
    for (size_t i = 0; i < splitter.count(); ++i) out.push_back(splitter.token(i));
    return out;
}

TEST(TextSplitter, EveryDelimiterAddsOneTokenAndEmptyTokensStay) {
    EXPECT_EQ(tokens(""), std::vector<std::string>{""});
    EXPECT_EQ(tokens("A,B"), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(tokens("A,,B"), (std::vector<std::string>{"A", "", "B"}));
    EXPECT_EQ(tokens("A,B,"), (std::vector<std::string>{"A", "B", ""}));
    EXPECT_EQ(tokens(",A"), (std::vector<std::string>{"", "A"}));
    EXPECT_EQ(tokens("A , B"), (std::vector<std::string>{"A ", " B"}));
    TextSplitter multi("a<>b<>", "<>");
    EXPECT_EQ(multi.count(), 3u);
    EXPECT_EQ(multi.token(1), "b");
}

TEST(TextSplitter, TokenPastTheEndRaisesOutOfRange) {
    TextSplitter splitter("", ",");
    EXPECT_EQ(splitter.count(), 1u);
    try {
        splitter.token(1);
        FAIL() << "no exception";
    } catch (const std::out_of_range &error) {
        EXPECT_STREQ(error.what(), "invalid vector<T> subscript");
    }
}

}  // namespace
