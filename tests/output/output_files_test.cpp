#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cctype>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/clock.h"
#include "output/append_files.h"
#include "output/append_guard.h"
#include "output/file_names.h"
#include "output/line_files.h"
#include "output/log_file.h"
#include "output/log_names.h"
#include "support/temp_folder.h"

using namespace varnex;
using varnex_test::TempFolder;

namespace {

const LibraryFiles kDefaultFiles{"Signal.txt", "SignalDebug.txt", "VarnexMsg.txt"};

std::string stemOf(const std::string &symbol, const LibraryFiles &files = kDefaultFiles) {
    return signalFileStem(symbol, files);
}

TEST(FileNames, PathsArePlainConcatenations) {
    EXPECT_EQ(logPath("C:\\", "VarnexMsg.txt"), "C:\\VarnexMsg.txt");
    EXPECT_EQ(signalPath("C:\\", "ABC", kDefaultFiles), "C:\\ABC.txt");
    EXPECT_EQ(signalDebugPath("C:\\", "ABC", kDefaultFiles), "C:\\ABC_debug.txt");
    EXPECT_EQ(signalPath("C:\\", "", kDefaultFiles), "C:\\Signal.txt");
    EXPECT_EQ(signalDebugPath("C:\\", "", kDefaultFiles), "C:\\SignalDebug.txt");
    EXPECT_EQ(signalPath("C:\\data", "ABC", kDefaultFiles), "C:\\dataABC.txt");
    EXPECT_EQ(signalPath("C:\\", "CON", kDefaultFiles), "C:\\%CON.txt");
    EXPECT_EQ(signalDebugPath("C:\\", "a:b", kDefaultFiles), "C:\\%a%3Ab_debug.txt");
}

TEST(FileNames, PathsPastMaxPathTakeTheExtendedLengthForm) {
    EXPECT_FALSE(exceedsMaxPath(std::string(259, 'a')));  // with its NUL, exactly MAX_PATH
    EXPECT_TRUE(exceedsMaxPath(std::string(260, 'a')));
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
    // Lines appended after what the buffer holds, each with the same stamp.
    std::string out = "kept";
    const std::string texts[] = {"a\nb", ""};
    appendOutputLines(out, {2019, 3, 4, 14, 5, 9}, ' ', texts, 2);
    EXPECT_EQ(out, "kept2019/03/04 14:05:09 a\r\nb\r\n2019/03/04 14:05:09 \r\n");
}

TEST(FileNames, OrdinarySymbolsKeepTheirNames) {
    for (const std::string &symbol : std::vector<std::string>{"ABC",
                                                              "abc",
                                                              "BRK.B",
                                                              "ES 12-24",
                                                              "CONSOLE",
                                                              "CON_X",
                                                              "COM10",
                                                              "COMA",
                                                              "LPT",
                                                              "NULL",
                                                              "AUXX.Y",
                                                              "x%",
                                                              "a b",
                                                              " lead",
                                                              "...",
                                                              "x.",
                                                              "\xC4PFEL",
                                                              "\x7F",
                                                              std::string(kMaxStemBytes, 'Z'),
                                                              "debug",
                                                              "X_DEBUGGER",
                                                              "_debugX",
                                                              "Signals",
                                                              "VarnexMsg-2026120"})
        EXPECT_EQ(stemOf(symbol), symbol);
}

TEST(FileNames, DeviceNamesAreEscapedInEveryCase) {
    for (const std::string symbol : {"CON",     "con",   "Prn",     "AUX",    "nul",     "COM0",    "COM1",
                                     "com9",    "LPT1",  "Lpt9",    "CONIN$", "conout$", "COM\xB9", "LPT\xB2",
                                     "LPT\xB3", "CON.A", "CON  .A", "NUL ",   "AUX.txt", "CON.."})
        EXPECT_EQ(stemOf(symbol), "%" + symbol);
}

TEST(FileNames, PathsStreamsAndForbiddenBytesAreEscaped) {
    EXPECT_EQ(stemOf("a:b"), "%a%3Ab");
    EXPECT_EQ(stemOf("..\\x"), "%..%5Cx");
    EXPECT_EQ(stemOf("a/b"), "%a%2Fb");
    EXPECT_EQ(stemOf("C:\\x"), "%C%3A%5Cx");
    EXPECT_EQ(stemOf("\\lead"), "%%5Clead");
    EXPECT_EQ(stemOf("*?\"<>|"), "%%2A%3F%22%3C%3E%7C");
    EXPECT_EQ(stemOf("a\nb\r\x01\x1F"), "%a%0Ab%0D%01%1F");
    // Once escaped, '%' and '~' are escaped too, so the escape reads back one way.
    EXPECT_EQ(stemOf("%ABC"), "%%25ABC");
    EXPECT_EQ(stemOf("a:~%"), "%a%3A%7E%25");
    EXPECT_EQ(stemOf("."), "%.");
    EXPECT_EQ(stemOf(".."), "%..");
    EXPECT_EQ(stemOf(""), "%");
}

// No symbol's file is another symbol's or one of the library's own: a debug
// ending, an 8.3 alias and the configured names are escaped, in any case.
TEST(FileNames, NoSymbolsFileIsAnotherOrTheLibrarysOwn) {
    const LibraryFiles configured{"Orders.sig", "ABC.TXT", "logs\\Day.log"};
    const LibraryFiles escapedLike{"%CON.txt", "%%43ON.txt", "Day.txt"};
    const struct {
        const char *symbol;
        const LibraryFiles &files;
        const char *stem;
    } cases[] = {
        {"ABC_debug", kDefaultFiles, "%ABC%5Fdebug"},
        {"abc_DEBUG", kDefaultFiles, "%abc%5FDEBUG"},
        {"_debug", kDefaultFiles, "%%5Fdebug"},
        {"%ABC_debug", kDefaultFiles, "%%25ABC%5Fdebug"},
        {"LONG~3W3", kDefaultFiles, "%LONG%7E3W3"},
        {"~", kDefaultFiles, "%%7E"},
        {"Signal", kDefaultFiles, "%Signal"},
        {"SIGNAL", kDefaultFiles, "%SIGNAL"},
        {"SignalDebug", kDefaultFiles, "%SignalDebug"},
        {"Signal_debug", kDefaultFiles, "%Signal%5Fdebug"},
        {"VarnexMsg", kDefaultFiles, "%VarnexMsg"},
        {"varnexmsg-20261209", kDefaultFiles, "%varnexmsg-20261209"},
        {"VarnexMsg-20261309", kDefaultFiles, "VarnexMsg-20261309"},  // no day of the calendar
        {"Signal", configured, "Signal"},
        {"VarnexMsg", configured, "VarnexMsg"},
        {"ABC", configured, "%ABC"},
        {"abc", configured, "%abc"},
        {"Orders", configured, "Orders"},
        {"Day", configured, "Day"},  // the log is in a folder of its own
        {"CON", escapedLike, "%%43%4FN"},
        {"Day", escapedLike, "%Day"},
    };
    for (const auto &c : cases) EXPECT_EQ(stemOf(c.symbol, c.files), c.stem) << c.symbol;
    // A configured name that Windows opens without its closing dots and blanks.
    EXPECT_EQ(stemOf("Signal", {"Signal.txt. ", "x", "y"}), "%Signal");
    // Whatever the symbol, its two files are neither another symbol's nor the library's.
    std::set<std::string> names;
    const std::vector<std::string> symbols = {
        "ABC",    "ABC_debug",   "abc_debug_debug", "%ABC",      "%ABC_debug",
        "Signal", "SignalDebug", "Signal_debug",    "VarnexMsg", "VarnexMsg_debug"};
    for (const std::string &symbol : symbols) {
        for (const std::string &name : {signalPath("", symbol.c_str(), kDefaultFiles),
                                        signalDebugPath("", symbol.c_str(), kDefaultFiles)}) {
            std::string upper = name;
            for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            EXPECT_TRUE(names.insert(upper).second) << name;
        }
    }
    for (const char *own : {"SIGNAL.TXT", "SIGNALDEBUG.TXT", "VARNEXMSG.TXT"})
        EXPECT_EQ(names.count(own), 0u);
}

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

TEST(FileNames, OverLongSymbolsAreShortenedWithAHashOfTheWhole) {
    const std::string longA(65536, 'A');
    const std::string stem = stemOf(longA);
    ASSERT_EQ(stem.size(), kShortenedPrefixBytes + 17);
    EXPECT_EQ(stem.substr(0, kShortenedPrefixBytes), "%" + std::string(kShortenedPrefixBytes - 1, 'A'));
    EXPECT_EQ(stem[kShortenedPrefixBytes], '~');
    for (size_t i = kShortenedPrefixBytes + 1; i < stem.size(); ++i) EXPECT_TRUE(isHex(stem[i])) << stem;
    // The same prefix, a different end: a different hash.
    EXPECT_NE(stemOf(longA.substr(1) + "B"), stem);
    EXPECT_EQ(stemOf(std::string(kMaxStemBytes + 1, 'A')).size(), kShortenedPrefixBytes + 17);
    // An escaped text just over the limit is shortened too.
    EXPECT_EQ(stemOf(std::string(kMaxStemBytes - 2, 'A') + ":").size(), kShortenedPrefixBytes + 17);
    EXPECT_EQ(stemOf(std::string(kMaxStemBytes - 4, 'A') + ":"),
              "%" + std::string(kMaxStemBytes - 4, 'A') + "%3A");
    // The cut never splits a %XX apart, wherever the escape falls.
    for (size_t at = kShortenedPrefixBytes - 4; at < kShortenedPrefixBytes + 2; ++at) {
        const std::string symbol = std::string(at, 'A') + ":" + std::string(300, 'B');
        const std::string cut = stemOf(symbol);
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
    for (const std::string &symbol : symbols) stems.insert(stemOf(symbol));
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
    const std::string stamp = stampText(localNow());
    EXPECT_TRUE(varnex_test::isStamp(stamp)) << stamp;
}

TEST(LineFiles, RewriteKeepsOnlyTheLatestLineAndAppendKeepsAll) {
    TempFolder folder;
    const std::string signal = folder.file("ABC.txt"), debug = folder.file("ABC_debug.txt");
    AppendFiles appends(1);
    for (const std::string text : {"1 2", "3 4"}) {
        EXPECT_TRUE(rewriteStampedLine(signal, ' ', text.c_str()).written());
        EXPECT_TRUE(appends.append(debug, ' ', &text, 1).written());
    }
    EXPECT_EQ(varnex_test::unstampedLines(varnex_test::readFile(signal), ' '),
              std::vector<std::string>{"3 4"});
    EXPECT_EQ(varnex_test::unstampedLines(varnex_test::readFile(debug), ' '),
              (std::vector<std::string>{"1 2", "3 4"}));
}

TEST(LineFiles, RewritesLeaveNoOtherFileBehind) {
    TempFolder folder;
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(rewriteStampedLine(folder.file("ABC.txt"), ' ', std::to_string(i).c_str()).written());
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
        ASSERT_TRUE(rewriteStampedLine(path, ' ', "1 a much longer first line").written());
        HANDLE reader =
            CreateFileA(path.c_str(), GENERIC_READ,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | (shareDelete ? FILE_SHARE_DELETE : 0), nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(reader, INVALID_HANDLE_VALUE);
        const FileWrite write = rewriteStampedLine(path, ' ', "2 short");
        const bool written = write.written();
        CloseHandle(reader);
        if (!shareDelete) {
            EXPECT_FALSE(written);
        }
        EXPECT_EQ(write.busy(), !written) << write.code;
        EXPECT_EQ(varnex_test::unstampedLines(varnex_test::readFile(path), ' '),
                  std::vector<std::string>{written ? "2 short" : "1 a much longer first line"});
        EXPECT_EQ(varnex_test::entriesOf(folder.path()), (std::set<std::string>{"ABC.txt"}));
        EXPECT_TRUE(rewriteStampedLine(path, ' ', "3 after").written());
        EXPECT_EQ(varnex_test::unstampedLines(varnex_test::readFile(path), ' '),
                  std::vector<std::string>{"3 after"});
    }
}

bool appendOne(AppendFiles &files, const std::string &path, const std::string &text) {
    return files.append(path, '\t', &text, 1).written();
}

TEST(AppendFiles, FilesStayOpenableRenamableAndDeletableWhileKeptOpen) {
    TempFolder folder;
    const std::string log = folder.file("log.txt");
    AppendFiles files(1);
    ASSERT_TRUE(appendOne(files, log, "one"));
    // A user holds the log open (sharing everything) while the library appends.
    HANDLE user =
        CreateFileA(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(user, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(appendOne(files, log, "two"));
    CloseHandle(user);
    ASSERT_TRUE(MoveFileA(log.c_str(), folder.file("old.txt").c_str()));
    EXPECT_TRUE(appendOne(files, log, "three"));
    EXPECT_EQ(varnex_test::unstampedLines(varnex_test::readFile(folder.file("old.txt")), '\t'),
              (std::vector<std::string>{"one", "two"}));
    EXPECT_TRUE(DeleteFileA(log.c_str()));
}

TEST(AppendFiles, UnopenableFileIsSkippedAndTriedAgainNextTime) {
    TempFolder folder;
    const std::string sub = folder.file("later");
    const std::string path = sub + "\\log.txt";
    AppendFiles files(1);
    const std::string lost = "lost";
    const FileWrite missed = files.append(path, '\t', &lost, 1);
    EXPECT_EQ(missed.kind, FileWrite::Kind::SystemError);
    EXPECT_EQ(missed.code, static_cast<unsigned long>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(missed.busy());
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    EXPECT_TRUE(appendOne(files, path, "kept"));
    EXPECT_EQ(varnex_test::unstampedLines(varnex_test::readFile(path), '\t'),
              std::vector<std::string>{"kept"});
}

TEST(AppendFiles, ConcurrentWritersNeverTearALine) {
    TempFolder folder;
    const std::string path = folder.file("log.txt");
    constexpr int kThreads = 4, kLines = 100;
    // Two paths for one file (letter case) and a bound of one: entries are
    // let go while other threads write them.
    AppendFiles files(1);
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&, t] {
            const std::string text(3000, static_cast<char>('a' + t));
            const std::string spelling = t % 2 ? path : folder.file("LOG.txt");
            for (int i = 0; i < kLines; ++i) appendOne(files, spelling, text);
        });
    for (auto &writer : writers) writer.join();
    const auto lines = varnex_test::unstampedLines(varnex_test::readFile(path), '\t');
    ASSERT_EQ(lines.size(), size_t(kThreads * kLines));
    for (const auto &line : lines) EXPECT_EQ(line, std::string(3000, line[0]));
}

// Whether the library holds `path` open: a program asking for it without any
// sharing is refused only then.
bool heldOpen(const std::string &path) {
    HANDLE alone =
        CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (alone == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(alone);
    return false;
}

TEST(AppendFiles, KeepsTheMostRecentlyUsedFilesOpenUpToItsBound) {
    TempFolder folder;
    const std::string a = folder.file("a.txt"), b = folder.file("b.txt"), c = folder.file("c.txt"),
                      d = folder.file("d.txt");
    {
        AppendFiles files(3);
        for (const std::string &path : {a, b, c, a, d}) ASSERT_TRUE(appendOne(files, path, "x"));
        // b was used least recently when d came.
        EXPECT_TRUE(heldOpen(a) && heldOpen(c) && heldOpen(d));
        EXPECT_FALSE(heldOpen(b));
        ASSERT_TRUE(appendOne(files, b, "y"));
        EXPECT_FALSE(heldOpen(c));
    }
    for (const std::string &path : {a, b, c, d}) EXPECT_FALSE(heldOpen(path)) << path;
    EXPECT_EQ(varnex_test::unstampedLines(varnex_test::readFile(b), '\t'),
              (std::vector<std::string>{"x", "y"}));
}

// What another program may do to a kept file between two lines, and where
// "after" must go: to a file at the path, never into the file moved away.
// Wine 8 keeps the name of a file deleted while someone holds it until the
// last holder closes it, as Windows did before 10 1903, and tells no holder;
// Windows since then lets the name go at once, which a move to another name
// followed by the delete does everywhere.
TEST(AppendFiles, TheLineAfterARenameDeleteOrReplaceGoesToTheFileAtThePath) {
    struct Change {
        const char *name;
        void (*apply)(const std::string &path, const std::string &aside);
        std::vector<std::string> atPathAfter, asideAfter;
    };
    const Change changes[] = {
        {"rename",
         [](const std::string &p, const std::string &aside) { MoveFileA(p.c_str(), aside.c_str()); },
         {"after"},
         {"before"}},
        {"delete",
         [](const std::string &p, const std::string &aside) {
             MoveFileA(p.c_str(), aside.c_str());
             DeleteFileA(aside.c_str());
         },
         {"after"},
         {}},
        {"replace by a rotation tool",
         [](const std::string &p, const std::string &aside) {
             MoveFileA(p.c_str(), aside.c_str());
             varnex_test::writeFile(p, "2000/01/01 00:00:00\tfresh\r\n");
         },
         {"fresh", "after"},
         {"before"}},
        {"emptied in place (copy and truncate)",
         [](const std::string &p, const std::string &) {
             HANDLE h =
                 CreateFileA(p.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
             CloseHandle(h);
         },
         {"after"},
         {}},
    };
    for (const Change &change : changes) {
        SCOPED_TRACE(change.name);
        TempFolder folder;
        const std::string path = folder.file("log.txt"), aside = folder.file("aside.txt");
        AppendFiles files(1);
        ASSERT_TRUE(appendOne(files, path, "before"));
        change.apply(path, aside);
        ASSERT_TRUE(appendOne(files, path, "after"));
        EXPECT_EQ(varnex_test::unstampedLines(varnex_test::readFile(path), '\t'), change.atPathAfter);
        if (varnex_test::fileExists(aside))
            EXPECT_EQ(varnex_test::unstampedLines(varnex_test::readFile(aside), '\t'), change.asideAfter);
        else
            EXPECT_TRUE(change.asideAfter.empty());
    }
}

// A holder that ended without letting go (a thread ended by TerminateThread,
// a process killed inside its write) is taken over once seen gone; one that
// lives but never lets go (a suspended thread) after kStealAfterMs. Its
// late release leaves the new holder's word alone.
TEST(AppendGuards, AHolderThatDiedOrHangsIsTakenOver) {
    AppendGuards guards;
    ASSERT_TRUE(guards.available());
    const size_t slot = guards.slotOf("C:\\guard-test\\x.txt");
    std::thread dead([&] { new AppendGuards::Held(guards, slot); });  // never released
    dead.join();
    { AppendGuards::Held held(guards, slot); }

    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> holding{false};
    std::thread stuck([&] {
        AppendGuards::Held held(guards, slot);
        holding = true;
        WaitForSingleObject(release, INFINITE);
    });
    while (!holding) Sleep(1);
    {
        AppendGuards::Held mine(guards, slot);
        // Taken over while the stuck thread still holds it.
        EXPECT_EQ(WaitForSingleObject(release, 0), WAIT_TIMEOUT);
        SetEvent(release);
        stuck.join();
        // The stuck thread's late release found another holder's word.
        EXPECT_EQ(guards.holderOf(slot), GetCurrentThreadId());
    }
    EXPECT_EQ(guards.holderOf(slot), 0u);
    CloseHandle(release);
}

TEST(LogNames, DailyNamesCarryTheDateAndOnlyTheirOwnWithRealDatesAreRecognised) {
    EXPECT_EQ(dailyLogName("VarnexMsg.txt", {2026, 12, 9}), "VarnexMsg-20261209.txt");
    EXPECT_EQ(dailyLogName("a.b.log", {987, 1, 2}), "a.b-09870102.log");
    EXPECT_EQ(dailyLogName("logs.d\\Varnex", {2026, 12, 9}), "logs.d\\Varnex-20261209");
    EXPECT_EQ(dailyLogName(".log", {2026, 12, 9}), ".log-20261209");
    const std::string logFile = "logs\\VarnexMsg.txt";
    EXPECT_EQ(dailyLogPattern(logFile), "VarnexMsg-*.txt");
    EXPECT_EQ(logFolderPart(logFile), "logs\\");
    EXPECT_EQ(dailyLogDate("varnexmsg-20240229.TXT", logFile), (CalendarDate{2024, 2, 29}));
    for (const std::string name :
         {"VarnexMsg.txt", "VarnexMsg-2026120.txt", "VarnexMsg-2026120x.txt", "VarnexMsg-20261301.txt",
          "VarnexMsg-20230229.txt", "VarnexMsg-20261209.txt.bak", "XVarnexMsg-20261209.txt",
          "VarnexMsg_20261209.txt"})
        EXPECT_FALSE(dailyLogDate(name, logFile)) << name;
}

TEST(LogNames, LogsPastTheirDaysGoTodaysNever) {
    EXPECT_EQ(dayNumber({1970, 1, 1}), 0);
    EXPECT_EQ(dayNumber({2000, 3, 1}) - dayNumber({2000, 2, 28}), 2);
    const CalendarDate today = {2026, 3, 1};
    EXPECT_FALSE(pastKeeping({2026, 3, 1}, today, 1));
    EXPECT_TRUE(pastKeeping({2026, 2, 28}, today, 1));
    EXPECT_FALSE(pastKeeping({2026, 2, 23}, today, 7));
    EXPECT_TRUE(pastKeeping({2026, 2, 22}, today, 7));
    EXPECT_FALSE(pastKeeping({1999, 1, 1}, today, 0));
}

// The clock of the tests of lines stamped on given days: each reading takes
// the next time.
std::vector<LocalTime> clockTimes;
size_t clockReadings = 0;
LocalTime testClock() { return clockTimes[std::min(clockReadings++, clockTimes.size() - 1)]; }

TEST(AppendFiles, LinesStampedOnAnotherDayThanAskedAreNotWritten) {
    TempFolder folder;
    const std::string path = folder.file("log.txt");
    clockReadings = 0;
    clockTimes = {{2026, 12, 9, 0, 0, 0}};
    AppendFiles files(1, testClock);
    const std::string text = "late";
    const CalendarDate eighth = {2026, 12, 8}, ninth = {2026, 12, 9};
    EXPECT_EQ(files.append(path, '\t', &text, 1, &eighth).kind, FileWrite::Kind::OtherDay);
    EXPECT_TRUE(files.append(path, '\t', &text, 1, &ninth).written());
    EXPECT_EQ(varnex_test::readFile(path), "2026/12/09 00:00:00\tlate\r\n");
}

TEST(LogFile, DailyLogsChangeAtTheFirstLineOfTheDayAndOldOnesGo) {
    TempFolder folder;
    const std::string sub = folder.file("logs");
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    const std::vector<std::string> others = {"M-2026120.txt",  "M-20261301.txt", "M-20261201.txt.bak",
                                             "N-20261201.txt", "M.txt",          "M-20261201.log",
                                             "m-2026120X.txt"};
    for (const std::string &name : others) varnex_test::writeFile(sub + "\\" + name, "x");
    for (const char *name : {"M-20261130.txt", "m-20261206.TXT", "M-20261207.txt"})
        varnex_test::writeFile(sub + "\\" + name, "old");
    ASSERT_TRUE(CreateDirectoryA((sub + "\\M-20261101.txt").c_str(), nullptr));
    clockReadings = 0;
    // 23:59:59 on the 8th; then a stamp taken past midnight while the file of
    // the 8th is locked; then the 9th.
    clockTimes = {{2026, 12, 8, 23, 59, 59}, {2026, 12, 8, 23, 59, 59}, {2026, 12, 8, 23, 59, 59},
                  {2026, 12, 9, 0, 0, 0},    {2026, 12, 9, 0, 0, 0},    {2026, 12, 9, 0, 0, 1}};
    {
        LogFile log(folder.path(), "logs\\M.txt", true, 2, testClock);
        EXPECT_TRUE(log.append(std::string("last of the 8th")));
        EXPECT_TRUE(log.append(std::string("first of the 9th")));
        EXPECT_EQ(log.pathOn({2026, 12, 9}), sub + "\\M-20261209.txt");
    }
    EXPECT_EQ(varnex_test::readFile(sub + "\\M-20261208.txt"), "2026/12/08 23:59:59\tlast of the 8th\r\n");
    EXPECT_EQ(varnex_test::readFile(sub + "\\M-20261209.txt"), "2026/12/09 00:00:01\tfirst of the 9th\r\n");
    // Two days kept on the 9th: the 8th and the 9th; on the 8th it was the 7th and the 8th.
    std::set<std::string> expected(others.begin(), others.end());
    expected.insert({"M-20261101.txt", "M-20261208.txt", "M-20261209.txt"});
    EXPECT_EQ(varnex_test::entriesOf(sub + "\\"), expected);
}

TEST(LogFile, WithoutRotationOneFileKeepsEverything) {
    TempFolder folder;
    varnex_test::writeFile(folder.file("M-20000101.txt"), "x");
    LogFile log(folder.path(), "M.txt", false, 1);
    EXPECT_TRUE(log.append(std::string("one")));
    EXPECT_EQ(log.pathOn({2026, 1, 1}), folder.file("M.txt"));
    EXPECT_EQ(varnex_test::entriesOf(folder.path()), (std::set<std::string>{"M-20000101.txt", "M.txt"}));
}

}  // namespace
