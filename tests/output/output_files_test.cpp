#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>
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
    EXPECT_EQ(signalPath("C:\\", "CON", "Signal.txt"), "C:\\%CON.txt");
    EXPECT_EQ(signalDebugPath("C:\\", "a:b", "SignalDebug.txt"), "C:\\%a%3Ab_debug.txt");
}

TEST(FileNames, PathsPastMaxPathTakeTheExtendedLengthForm) {
    EXPECT_FALSE(passesMaxPath(std::string(259, 'a')));  // with its NUL, exactly MAX_PATH
    EXPECT_TRUE(passesMaxPath(std::string(260, 'a')));
    const std::vector<std::pair<std::wstring, std::wstring>> cases = {
        {L"C:\\data\\ABC.txt", L"\\\\?\\C:\\data\\ABC.txt"},
        {L"\\\\server\\share\\ABC.txt", L"\\\\?\\UNC\\server\\share\\ABC.txt"},
        {L"\\\\?\\C:\\ABC.txt", L"\\\\?\\C:\\ABC.txt"},
        {L"\\\\?\\UNC\\server\\share\\x", L"\\\\?\\UNC\\server\\share\\x"},
        {L"\\\\.\\pipe\\x", L"\\\\.\\pipe\\x"},
    };
    for (const auto &c : cases) EXPECT_EQ(extendedLengthPath(c.first), c.second);
}

TEST(FileNames, LinesReachTheDiskAsTextModeWroteThem) {
    EXPECT_EQ(outputLine("2019/03/04 14:05:09", '\t', "hello"), "2019/03/04 14:05:09\thello\r\n");
    EXPECT_EQ(outputLine("S", ' ', "two\nlines"), "S two\r\nlines\r\n");
    EXPECT_EQ(outputLine("S", ' ', "cr\r\nlf"), "S cr\r\r\nlf\r\n");
    EXPECT_EQ(outputLine("S", '\t', ""), "S\t\r\n");
}

TEST(FileNames, OrdinarySymbolsKeepTheirNames) {
    for (const std::string &symbol :
         std::vector<std::string>{"ABC",    "abc",   "BRK.B",    "ES 12-24", "CONSOLE",
                                  "CON_X",  "COM10", "COMA",     "LPT",      "NULL",
                                  "AUXX.Y", "x%",    "~x",       "a b",      " lead",
                                  "...",    "x.",    "\xC4PFEL", "\x7F",     std::string(kMaxStemBytes, 'Z')})
        EXPECT_EQ(signalFileStem(symbol), symbol);
}

TEST(FileNames, DeviceNamesAreEscapedInEveryCase) {
    for (const std::string symbol : {"CON",     "con",   "Prn",     "AUX",    "nul",     "COM0",    "COM1",
                                     "com9",    "LPT1",  "Lpt9",    "CONIN$", "conout$", "COM\xB9", "LPT\xB2",
                                     "LPT\xB3", "CON.A", "CON  .A", "NUL ",   "AUX.txt", "CON.."})
        EXPECT_EQ(signalFileStem(symbol), "%" + symbol);
}

TEST(FileNames, PathsStreamsAndForbiddenBytesAreEscaped) {
    EXPECT_EQ(signalFileStem("a:b"), "%a%3Ab");
    EXPECT_EQ(signalFileStem("..\\x"), "%..%5Cx");
    EXPECT_EQ(signalFileStem("a/b"), "%a%2Fb");
    EXPECT_EQ(signalFileStem("C:\\x"), "%C%3A%5Cx");
    EXPECT_EQ(signalFileStem("\\lead"), "%%5Clead");
    EXPECT_EQ(signalFileStem("*?\"<>|"), "%%2A%3F%22%3C%3E%7C");
    EXPECT_EQ(signalFileStem("a\nb\r\x01\x1F"), "%a%0Ab%0D%01%1F");
    // Once escaped, '%' and '~' are escaped too, so the escape reads back one way.
    EXPECT_EQ(signalFileStem("%ABC"), "%%25ABC");
    EXPECT_EQ(signalFileStem("a:~%"), "%a%3A%7E%25");
    EXPECT_EQ(signalFileStem("."), "%.");
    EXPECT_EQ(signalFileStem(".."), "%..");
    EXPECT_EQ(signalFileStem(""), "%");
}

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

TEST(FileNames, OverLongSymbolsAreShortenedWithAHashOfTheWhole) {
    const std::string longA(65536, 'A');
    const std::string stem = signalFileStem(longA);
    ASSERT_EQ(stem.size(), kShortenedPrefixBytes + 17);
    EXPECT_EQ(stem.substr(0, kShortenedPrefixBytes), "%" + std::string(kShortenedPrefixBytes - 1, 'A'));
    EXPECT_EQ(stem[kShortenedPrefixBytes], '~');
    for (size_t i = kShortenedPrefixBytes + 1; i < stem.size(); ++i) EXPECT_TRUE(isHex(stem[i])) << stem;
    // The same prefix, a different end: a different hash.
    EXPECT_NE(signalFileStem(longA.substr(1) + "B"), stem);
    EXPECT_EQ(signalFileStem(std::string(kMaxStemBytes + 1, 'A')).size(), kShortenedPrefixBytes + 17);
    // An escaped text just over the limit is shortened too.
    EXPECT_EQ(signalFileStem(std::string(kMaxStemBytes - 2, 'A') + ":").size(), kShortenedPrefixBytes + 17);
    EXPECT_EQ(signalFileStem(std::string(kMaxStemBytes - 4, 'A') + ":"),
              "%" + std::string(kMaxStemBytes - 4, 'A') + "%3A");
    // The cut never splits a %XX apart, wherever the escape falls.
    for (size_t at = kShortenedPrefixBytes - 4; at < kShortenedPrefixBytes + 2; ++at) {
        const std::string symbol = std::string(at, 'A') + ":" + std::string(300, 'B');
        const std::string cut = signalFileStem(symbol);
        const std::string prefix = cut.substr(0, cut.find('~'));
        EXPECT_GE(prefix.size(), kShortenedPrefixBytes - 2);
        EXPECT_LE(prefix.size(), kShortenedPrefixBytes);
        for (size_t i = 1; i < prefix.size(); ++i) {
            if (prefix[i] == '%') {
                EXPECT_TRUE(i + 2 < prefix.size() && isHex(prefix[i + 1]) && isHex(prefix[i + 2])) << cut;
            }
        }
    }
}

TEST(FileNames, DifferentSymbolsNeverShareAStem) {
    const std::vector<std::string> symbols = {"CON",
                                              "%CON",
                                              "%25CON",
                                              "con",
                                              "a:b",
                                              "%a%3Ab",
                                              "a%3Ab",
                                              "%a:b",
                                              ".",
                                              "%.",
                                              "..",
                                              "%..",
                                              "",
                                              "%",
                                              "~",
                                              "%~",
                                              "a:~",
                                              "a:%7E",
                                              std::string(300, 'A'),
                                              std::string(299, 'A'),
                                              std::string(200, 'A'),
                                              "%" + std::string(199, 'A')};
    std::set<std::string> stems;
    for (const std::string &symbol : symbols) stems.insert(signalFileStem(symbol));
    EXPECT_EQ(stems.size(), symbols.size());
}

TEST(FileNames, StampIsFixedWidthAsciiTwentyFourHour) {
    EXPECT_EQ(stampText({2019, 3, 4, 14, 5, 9}), "2019/03/04 14:05:09");
    EXPECT_EQ(stampText({2026, 12, 8, 0, 0, 0}), "2026/12/08 00:00:00");
    EXPECT_EQ(stampText({2026, 12, 31, 23, 59, 60}), "2026/12/31 23:59:60");
    EXPECT_EQ(stampText({999, 1, 1, 9, 8, 7}), "0999/01/01 09:08:07");
    EXPECT_EQ(stampText({10000, 1, 1, 0, 0, 0}), "10000/01/01 00:00:00");
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
    EXPECT_EQ(varnex_test::unstampedLines(varnex_test::readFile(signal), ' '),
              std::vector<std::string>{"3 4"});
    EXPECT_EQ(varnex_test::unstampedLines(varnex_test::readFile(debug), ' '),
              (std::vector<std::string>{"1 2", "3 4"}));
}

TEST(LineFiles, RewritesLeaveNoOtherFileBehind) {
    TempFolder folder;
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(
            writeStampedLine(folder.file("ABC.txt"), LineMode::Rewrite, ' ', std::to_string(i).c_str()));
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(folder.file("*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    std::set<std::string> names;
    do names.insert(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    EXPECT_EQ(names, (std::set<std::string>{".", "..", "ABC.txt"}));
    EXPECT_EQ(varnex_test::unstampedLines(varnex_test::readFile(folder.file("ABC.txt")), ' '),
              std::vector<std::string>{"19"});
}

// A file that a reader holds cannot be replaced: always when the reader does
// not share delete (as msvcrt's fopen shares: read and write), and under
// Wine even when it does. Then the line is not written at all, never half,
// and the next line after the reader let go is.
TEST(LineFiles, AReaderHoldingTheFileMakesItBusyAndItKeepsItsLineWhole) {
    for (const bool shareDelete : {true, false}) {
        SCOPED_TRACE(shareDelete);
        TempFolder folder;
        const std::string path = folder.file("ABC.txt");
        ASSERT_TRUE(writeStampedLine(path, LineMode::Rewrite, ' ', "1 a much longer first line"));
        HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | (shareDelete ? FILE_SHARE_DELETE : 0),
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(reader, INVALID_HANDLE_VALUE);
        unsigned long error = 0;
        const bool written = writeStampedLine(path, LineMode::Rewrite, ' ', "2 short", &error);
        CloseHandle(reader);
        if (!shareDelete) EXPECT_FALSE(written);
        EXPECT_EQ(isBusyError(error), !written) << error;
        EXPECT_EQ(varnex_test::unstampedLines(varnex_test::readFile(path), ' '),
                  std::vector<std::string>{written ? "2 short" : "1 a much longer first line"});
        EXPECT_EQ(varnex_test::entriesOf(folder.path()), (std::set<std::string>{"ABC.txt"}));
        EXPECT_TRUE(writeStampedLine(path, LineMode::Rewrite, ' ', "3 after"));
        EXPECT_EQ(varnex_test::unstampedLines(varnex_test::readFile(path), ' '), std::vector<std::string>{"3 after"});
    }
}

TEST(LineFiles, FilesStayOpenableRenamableAndDeletableBetweenLines) {
    TempFolder folder;
    const std::string log = folder.file("log.txt");
    ASSERT_TRUE(writeStampedLine(log, LineMode::Append, '\t', "one"));
    // A user holds the log open (sharing everything) while the library appends.
    HANDLE user =
        CreateFileA(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(user, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(writeStampedLine(log, LineMode::Append, '\t', "two"));
    CloseHandle(user);
    ASSERT_TRUE(MoveFileA(log.c_str(), folder.file("old.txt").c_str()));
    EXPECT_TRUE(writeStampedLine(log, LineMode::Append, '\t', "three"));
    EXPECT_EQ(varnex_test::unstampedLines(varnex_test::readFile(folder.file("old.txt")), '\t'),
              (std::vector<std::string>{"one", "two"}));
    EXPECT_TRUE(DeleteFileA(log.c_str()));
}

TEST(LineFiles, UnopenableFileIsSkippedAndTriedAgainNextTime) {
    TempFolder folder;
    const std::string sub = folder.file("later");
    const std::string path = sub + "\\log.txt";
    EXPECT_FALSE(writeStampedLine(path, LineMode::Append, '\t', "lost"));
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    EXPECT_TRUE(writeStampedLine(path, LineMode::Append, '\t', "kept"));
    EXPECT_EQ(varnex_test::unstampedLines(varnex_test::readFile(path), '\t'),
              std::vector<std::string>{"kept"});
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
