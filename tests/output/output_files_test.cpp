#include <windows.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "output/file_names.h"
#include "output/line_files.h"
#include "support/temp_folder.h"

using namespace varnex;
using varnex_test::TempFolder;

namespace {

TEST(FileNames, PathsArePlainConcatenations) {
    EXPECT_EQ(logPath("C:\\", "VarnexMsg.txt"), "C:\\VarnexMsg.txt");
    EXPECT_EQ(signalPath("C:\\", "ABC", "Signal.txt"), "C:\\ABC.txt");
    EXPECT_EQ(signalDebugPath("C:\\", "ABC", "SignalDebug.txt"), "C:\\ABC_debug.txt");
    EXPECT_EQ(signalPath("C:\\", "", "Signal.txt"), "C:\\Signal.txt");
    EXPECT_EQ(signalDebugPath("C:\\", "", "SignalDebug.txt"), "C:\\SignalDebug.txt");
    EXPECT_EQ(signalPath("C:\\data", "ABC", "Signal.txt"), "C:\\dataABC.txt");
    EXPECT_EQ(outputLine("2019/03/04 14:05:09", '\t', "hello"), "2019/03/04 14:05:09\thello\n");
}

TEST(LineFiles, TimestampHasTheFixedShape) {
    char stamp[80];
    makeTimestamp(stamp);
    EXPECT_TRUE(varnex_test::isStamp(stamp)) << stamp;
}

TEST(LineFiles, RewriteKeepsOnlyTheLatestLineAndAppendKeepsAll) {
    TempFolder folder;
    const std::string signal = folder.file("ABC.txt"), debug = folder.file("ABC_debug.txt");
    for (const char *text : {"1 2", "3 4"}) {
        EXPECT_TRUE(writeStampedLine(signal, LineMode::Rewrite, ' ', text));
        EXPECT_TRUE(writeStampedLine(debug, LineMode::Append, ' ', text));
    }
    EXPECT_EQ(varnex_test::unstampedLines(varnex_test::readFile(signal), ' '), std::vector<std::string>{"3 4"});
    EXPECT_EQ(varnex_test::unstampedLines(varnex_test::readFile(debug), ' '),
              (std::vector<std::string>{"1 2", "3 4"}));
}

TEST(LineFiles, UnopenableFileIsSkippedAndTriedAgainNextTime) {
    TempFolder folder;
    const std::string sub = folder.file("later");
    const std::string path = sub + "\\log.txt";
    EXPECT_FALSE(writeStampedLine(path, LineMode::Append, '\t', "lost"));
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    EXPECT_TRUE(writeStampedLine(path, LineMode::Append, '\t', "kept"));
    EXPECT_EQ(varnex_test::unstampedLines(varnex_test::readFile(path), '\t'), std::vector<std::string>{"kept"});
    DeleteFileA(path.c_str());
    RemoveDirectoryA(sub.c_str());
}

TEST(LineFiles, ConcurrentWritersNeverTearALine) {
    TempFolder folder;
    const std::string path = folder.file("log.txt");
    constexpr int kThreads = 4, kLines = 100;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&, t] {
            const std::string text(3000, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) writeStampedLine(path, LineMode::Append, '\t', text.c_str());
        });
    for (auto &writer : writers) writer.join();
    const auto lines = varnex_test::unstampedLines(varnex_test::readFile(path), '\t');
    ASSERT_EQ(lines.size(), size_t(kThreads * kLines));
    for (const auto &line : lines) EXPECT_EQ(line, std::string(3000, line[0]));
}

}  // namespace
