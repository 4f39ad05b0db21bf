#include "console/console_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace varnex;

namespace {

// Everything the writer would write, in order, as "E:" or "O:" + text.
std::vector<std::string> drain(ConsoleQueue &queue) {
    std::vector<std::string> out;
    ConsoleLine line;
    while (queue.pop(line)) out.push_back((line.stream == ConsoleStream::Error ? "E:" : "O:") + line.text);
    return out;
}

// Lines come out in order, both streams in one queue; where lines were
// dropped, the notice stands at the gap. Texts are "O:" or "E:" + text.
TEST(ConsoleQueue, AFullQueueDropsAndTheNoticeStandsAtTheGap) {
    struct Case {
        size_t maxEntries, maxBytes;
        std::vector<std::string> pushed, written;
        unsigned long long dropped;
    };
    const std::string two = "E:varnex: 2 console lines dropped\r\n",
                      one = "E:varnex: 1 console line dropped\r\n";
    // clang-format off
    const std::vector<Case> cases = {
        {2, 1000, {"O:1\n", "E:2\n", "O:3\n", "O:4\n"}, {"O:1\n", "E:2\n", two}, 2},
        // A text of two lines is two lines dropped; one without a line end is one.
        {10, 6, {"O:1\n2\n", "O:3\n", "O:4\n5\n", "O:6"}, {"O:1\n2\n", "O:3\n", "E:varnex: 3 console lines dropped\r\n"}, 3},
        // A line that fits after drops closes the gap: the notice comes before it.
        {2, 4, {"O:1\n", "O:too long\n", "O:2\n", "O:3\n"}, {"O:1\n", one, "O:2\n", one}, 2},
    };
    // clang-format on
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        ConsoleQueue queue(cases[i].maxEntries, cases[i].maxBytes);
        for (const std::string &text : cases[i].pushed)
            queue.push(text[0] == 'E' ? ConsoleStream::Error : ConsoleStream::Output, text.substr(2));
        EXPECT_EQ(drain(queue), cases[i].written);
        EXPECT_EQ(queue.droppedLines(), cases[i].dropped);
    }
}

}  // namespace
