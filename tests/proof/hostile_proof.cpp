// Hostile input through the real host: garbage configuration files and
// signals with non-finite prices, extreme quantities, huge and null texts.
// Nothing crashes, nothing hangs, nothing is written outside driverName, and
// the host's floating-point state is as it left it after every call.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "integration/host_runner.h"
#include "proof/proof_table.h"

using namespace varnex_test;

namespace {

constexpr ULONGLONG kHostBoundMs = 30000;

std::string n(long long value) { return std::to_string(value); }

std::set<std::string> added(const std::set<std::string> &before, const std::set<std::string> &after) {
    std::set<std::string> names;
    for (const std::string &name : after)
        if (!before.count(name)) names.insert(name);
    return names;
}

std::string joined(const std::set<std::string> &names) {
    std::string text;
    for (const std::string &name : names) text += (text.empty() ? "" : ", ") + name.substr(0, 80);
    return text;
}

// A file's content behind the stamp of its first line.
std::string afterStamp(const std::string &content) {
    return content.size() >= 19 ? content.substr(19) : content;
}

std::string parentOf(const std::string &folder) {
    const std::string trimmed = folder.substr(0, folder.size() - 1);
    return trimmed.substr(0, trimmed.find_last_of('\\') + 1);
}

std::string currentFolder() {
    char path[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, path);
    std::string folder = path;
    if (folder.empty() || folder.back() != '\\') folder += '\\';
    return folder;
}

// Seeded bytes, so a failure can be reproduced: about a third of them are
// NULs, CR, LF, brackets and '=', the rest anything.
std::string garbage(uint32_t seed, size_t size) {
    static const char kSoup[] = {'\0', '\r', '\n', '\r', '\n', '[', ']', '='};
    std::string bytes;
    uint32_t state = seed;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        const uint32_t r = state >> 8;
        bytes += r % 3 == 0 ? kSoup[(r >> 4) % sizeof kSoup] : static_cast<char>(r >> 12);
    }
    return bytes;
}

class HostileProof : public HostTest {
protected:
    // The folders where a stray file would land: the test folder's parent,
    // the root of C: and the current folder.
    struct Watched {
        std::string path;
        std::set<std::string> before;
    };
    std::vector<Watched> watch() const {
        std::vector<Watched> folders;
        for (const std::string &path : {parentOf(folder.path()), std::string("C:\\"), currentFolder()})
            folders.push_back({path, entriesOf(path)});
        return folders;
    }
    // What appeared in the watched folders since `watch`, "<folder>name" each.
    static std::set<std::string> strays(const std::vector<Watched> &folders) {
        std::set<std::string> found;
        for (const Watched &w : folders)
            for (const std::string &name : added(w.before, entriesOf(w.path))) found.insert(w.path + name);
        return found;
    }

    struct Outcome {
        unsigned long exitCode;
        ULONGLONG ms;
        std::string output;
        std::set<std::string> strays;  // what appeared in the watched folders, "<folder>name" each
    };
    // Runs the host on `script` with the folders watched. The stray files
    // are looked for once the host has ended and its time is taken.
    Outcome runWatched(const std::string &script) {
        const std::vector<Watched> watched = watch();
        const ULONGLONG start = GetTickCount64();
        const HostResult result = runHost(folder, script);
        return {result.exitCode, GetTickCount64() - start, result.output, strays(watched)};
    }

    // What every garbage file must leave true: no stray file, no crash, no
    // hang. Counted for the figures whatever the checks say.
    int garbageFiles = 0, crashes = 0, hangs = 0, strayFiles = 0;
    void expectSurvived(const Outcome &outcome) {
        EXPECT_TRUE(outcome.strays.empty()) << joined(outcome.strays);
        EXPECT_EQ(outcome.exitCode, 0u) << outcome.output;
        EXPECT_LT(outcome.ms, kHostBoundMs);
        if (outcome.exitCode != 0) ++crashes;
        if (outcome.ms >= kHostBoundMs) ++hangs;
        strayFiles += static_cast<int>(outcome.strays.size());
        ++garbageFiles;
    }
};

// Signals for symbols that no other case uses, so their files can be told apart.
std::string shortScript(const std::string &tag) {
    return "writelog|" + tag + " hello\nprocess|today|" + tag + "A|1|1.5\nprocess|today|" + tag +
           "A|2|2.5\nprocess|today|" + tag + "B|-3|3.5\nregister\n";
}

TEST_F(HostileProof, GarbageConfigurationFilesNeitherCrashNorHangNorWriteOutsideDriverName) {
    // Random bytes: no [Setting] section, so every default holds, driverName
    // C:\ among them: the signal files land there and nowhere else.
    for (uint32_t seed : {1u, 2u}) {
        SCOPED_TRACE("random bytes, seed " + n(seed));
        const std::string bytes = garbage(seed, seed == 1 ? 4096 : 65536);
        ASSERT_EQ(bytes.find("[Setting]"), std::string::npos);
        ASSERT_TRUE(bytes.find('\0') != std::string::npos && bytes.find("\r\n") != std::string::npos);
        writeIni(bytes);
        const std::string tag = "VxRandom" + n(seed);
        Outcome outcome = runWatched(shortScript(tag));
        EXPECT_EQ(outcome.strays.erase("C:\\" + tag + "A.txt"), 1u);
        EXPECT_EQ(outcome.strays.erase("C:\\" + tag + "B.txt"), 1u);
        EXPECT_EQ(afterStamp(readFile("C:\\" + tag + "A.txt")), " 2 2.5\r\n");
        DeleteFileA(("C:\\" + tag + "A.txt").c_str());
        DeleteFileA(("C:\\" + tag + "B.txt").c_str());
        expectSurvived(outcome);
    }

    // A 100 KiB driverName: the platform cuts the value to 254 characters,
    // so the files would be named after a long run of x inside the folder
    // (or not be written at all where the path grows too long).
    {
        SCOPED_TRACE("100 KiB driverName");
        writeIni("[Setting]\r\ndriverName=" + folder.path() + std::string(100 * 1024, 'x') +
                 "\r\nlogMode=True\r\n");
        const Outcome outcome = runWatched(shortScript("VxLong"));
        for (const std::string &name : entriesOf(folder.path()))
            EXPECT_TRUE(name == "script.txt" || name.compare(0, 8, "xxxxxxxx") == 0) << name;
        expectSurvived(outcome);
    }

    // A 100 KiB key line before the real keys: they are read all the same.
    {
        SCOPED_TRACE("100 KiB key line");
        writeIni("[Setting]\r\n" + std::string(100 * 1024, 'k') + "=1\r\ndriverName=" + folder.path() +
                 "\r\nlogMode=True\r\n");
        const Outcome outcome = runWatched(shortScript("VxKey"));
        EXPECT_EQ(countOf(log(), "\tVxKey hello\r\n"), 1u);
        EXPECT_EQ(afterStamp(readFile(folder.file("VxKeyA.txt"))), " 2 2.5\r\n");
        expectSurvived(outcome);
    }

    // 10,000 client identifiers, none with its section: the list is cut to
    // 254 characters, the identifiers within it relay to port 0 (refused at
    // once) and the ones beyond are no clients at all. This case shares the
    // log with the one before, each line told apart by its symbol.
    {
        SCOPED_TRACE("10000 client identifiers");
        std::string ids;
        for (int i = 0; i < 10000; ++i) ids += (i ? "," : "") + std::string("C") + n(i);
        const std::string kept = ids.substr(0, 254);
        const std::string lastWhole = kept.substr(kept.rfind(',', kept.rfind(',') - 1) + 1,
                                                  kept.rfind(',') - kept.rfind(',', kept.rfind(',') - 1) - 1);
        writeIni(settingIni(folder, "logMode=True\r\nsocketClient=True\r\nsignalMode=True\r\n") +
                 "[SocketClient]\r\nclientID=" + ids + "\r\n");
        const Outcome outcome = runWatched("writelog|VxIds hello\nprocess|today|C0|1|1.5\nprocess|today|" +
                                           lastWhole + "|1|1.5\nprocess|today|C9999|1|1.5\nregister\n");
        const std::string logText = log();
        EXPECT_EQ(countOf(logText, "\tC0, tcp://127.0.0.1:0\r\n"), 1u) << logText;
        EXPECT_EQ(countOf(logText, "\t" + lastWhole + ", tcp://127.0.0.1:0\r\n"), 1u) << lastWhole;
        EXPECT_EQ(countOf(logText, "C9999, tcp://"), 0u);
        // The TCP step of a symbol without an endpoint hands the log an empty text.
        EXPECT_EQ(countOf(logText, "\t\r\n"), 1u);
        EXPECT_EQ(afterStamp(readFile(folder.file("C9999.txt"))), " 1 1.5\r\n");
        expectSurvived(outcome);
    }

    // Duplicate sections and keys. Wine's profile functions take a key's
    // first occurrence within the first section of the name and never look
    // into a later section of the same name.
    {
        SCOPED_TRACE("duplicate sections and keys");
        for (const char *sub : {"first", "dupkey", "second"})
            CreateDirectoryA(folder.file(sub).c_str(), nullptr);
        writeIni("[Setting]\r\ndriverName=" + folder.file("first\\") +
                 "\r\nlogMode=True\r\ndriverName=" + folder.file("dupkey\\") +
                 "\r\nlogMode=False\r\n[Other]\r\nx=1\r\n[Setting]\r\ndriverName=" + folder.file("second\\") +
                 "\r\nlogFile=second.txt\r\nsignalDebugMode=True\r\n");
        const Outcome outcome = runWatched(shortScript("VxDup"));
        EXPECT_EQ(countOf(readFile(folder.file("first\\VarnexMsg.txt")), "\tVxDup hello\r\n"), 1u);
        EXPECT_EQ(entriesOf(folder.file("first\\")),
                  (std::set<std::string>{"VarnexMsg.txt", "VxDupA.txt", "VxDupB.txt"}));
        EXPECT_TRUE(entriesOf(folder.file("dupkey\\")).empty());
        EXPECT_TRUE(entriesOf(folder.file("second\\")).empty());
        expectSurvived(outcome);
        for (const char *sub : {"first\\", "dupkey\\", "second\\"}) {
            for (const std::string &name : entriesOf(folder.file(sub)))
                DeleteFileA(folder.file(sub + name).c_str());
            RemoveDirectoryA(folder.file(sub).c_str());
        }
    }

    // A UTF-8 byte order mark before [Setting]: Wine reads the section.
    {
        SCOPED_TRACE("UTF-8 BOM");
        writeIni("\xEF\xBB\xBF" + settingIni(folder, "logMode=True\r\n"));
        const Outcome outcome = runWatched(shortScript("VxBom"));
        EXPECT_EQ(countOf(log(), "\tVxBom hello\r\n"), 1u);
        EXPECT_EQ(afterStamp(readFile(folder.file("VxBomA.txt"))), " 2 2.5\r\n");
        expectSurvived(outcome);
    }

    recordFigures("hostile: garbage Varnex.ini", n(garbageFiles) + " garbage INI files, " + n(crashes) +
                                                     " crashes, " + n(hangs) + " hangs, " + n(strayFiles) +
                                                     " files outside driverName");
}

// true: the host runs with the invalid-operation, zero-divide and overflow
// exceptions unmasked, as Delphi-built hosts do.
class HostileSignalsProof : public HostileProof, public ::testing::WithParamInterface<bool> {};

TEST_P(HostileSignalsProof, NonFinitePricesExtremeQuantitiesHugeAndNullTextsAreLoggedAndFiled) {
    const bool unmasked = GetParam();
    writeIni(settingIni(folder, "logMode=True\r\nsignalDebugMode=True\r\n"));
    struct Signal {
        std::string symbol, quantity, price;  // as the script gives them
        std::string quantityText, priceText;  // as the library writes them
    };
    // -0.0 keeps its sign, as the C runtime's %g writes it; a signalling NaN
    // is named by its sign like any other.
    const std::vector<Signal> signals = {
        {"PNAN", "1", "nan", "1", "1.#QNAN"},
        {"PNEGNAN", "1", "-nan", "1", "-1.#IND"},
        {"PSNAN", "1", "0x7FF4000000000000", "1", "1.#QNAN"},
        {"PNEGSNAN", "1", "0xFFF4000000000000", "1", "-1.#IND"},
        {"PDENORMAL", "1", "0x0000000000000001", "1", "4.94066e-324"},
        {"PMAX", "1", "0x7FEFFFFFFFFFFFFF", "1", "1.79769e+308"},
        {"PINF", "1", "inf", "1", "1.#INF"},
        {"PNEGINF", "1", "-inf", "1", "-1.#INF"},
        {"PNEGZERO", "1", "-0", "1", "-0"},
        {"PZERO", "1", "0", "1", "0"},
        {"QMIN", n(INT32_MIN), "1.5", "-2147483648", "1.5"},
        {"QMAX", n(INT32_MAX), "1.5", "2147483647", "1.5"},
        {"QZERO", "0", "1.5", "0", "1.5"},
        {"QMINMAX", n(INT32_MIN), "1e308", "-2147483648", "1e+308"},
        {"QMINMAX", n(INT32_MAX), "-1e-308", "2147483647", "-1e-308"},
        {"", "5", "2.5", "5", "2.5"},
    };
    // The 60 KiB text has no blank, bar or backslash, so the script passes it as it is.
    std::string longText;
    for (int i = 0; longText.size() < 60 * 1024; ++i) longText += "L" + n(i);

    std::string script = (unmasked ? "fpunmask\n" : "") + ("writelog|" + longText + "\nnullcalls\n");
    for (const Signal &s : signals)
        script += "process|today|" + s.symbol + "|" + s.quantity + "|" + s.price + "\n";
    const ULONGLONG start = GetTickCount64();
    const HostResult result = runHost(folder, script + "fpcheck\n");
    const ULONGLONG took = GetTickCount64() - start;
    // A floating-point exception raised inside the host ends it with 144.
    EXPECT_EQ(result.exitCode, 0u) << result.output;
    EXPECT_LT(took, kHostBoundMs);
    const std::string calls = "FPCHECK calls=" + n(static_cast<long long>(signals.size()) + 3);
    EXPECT_NE(result.output.find(calls + " changed=0\r\n"), std::string::npos) << result.output;
    const size_t fpAt = result.output.find("FPCHECK ");
    const std::string fpCheck =
        fpAt == std::string::npos ? "not reported"
                                  : result.output.substr(fpAt + 8, result.output.find('\r', fpAt) - fpAt - 8);

    // Every line of the log, in order: the long text whole as one entry, the
    // null calls leave nothing, then each signal's own lines.
    std::vector<std::string> expected = {longText};
    std::string previousQuantity;
    for (size_t i = 0; i < signals.size(); ++i) {
        const Signal &s = signals[i];
        expected.push_back(s.symbol + ": " + s.quantityText + "," + s.priceText);
        const bool repeat = i > 0 && signals[i - 1].symbol == s.symbol;
        expected.push_back(s.symbol + " qty=\t" + s.quantityText +
                           (repeat ? " preQty=\t" + signals[i - 1].quantityText : ""));
    }
    EXPECT_EQ(unstampedLines(log(), '\t'), expected);

    // Each symbol's files: the signal file holds its last signal, the debug
    // file every one; the empty symbol uses Signal.txt and SignalDebug.txt.
    std::map<std::string, std::vector<std::string>> debugExpected;
    for (const Signal &s : signals) debugExpected[s.symbol].push_back(s.quantityText + " " + s.priceText);
    size_t filed = 0;
    for (const auto &entry : debugExpected) {
        const std::string &symbol = entry.first;
        const std::string stem = symbol.empty() ? "Signal" : symbol;
        const std::string debugStem = symbol.empty() ? "SignalDebug" : symbol + "_debug";
        EXPECT_EQ(unstampedLines(readFile(folder.file(stem + ".txt")), ' '),
                  std::vector<std::string>{entry.second.back()})
            << symbol;
        const std::vector<std::string> debug = unstampedLines(readFile(folder.file(debugStem + ".txt")), ' ');
        EXPECT_EQ(debug, entry.second) << symbol;
        if (debug == entry.second) filed += debug.size();
    }
    // Nothing but the script and these files in the folder.
    std::set<std::string> names = entriesOf(folder.path());
    size_t other = 0;
    for (const std::string &name : names)
        if (name != "script.txt" && name != "VarnexMsg.txt" && name != "Signal.txt" &&
            name != "SignalDebug.txt" && name.compare(0, 1, "P") != 0 && name.compare(0, 1, "Q") != 0)
            ++other;
    EXPECT_EQ(other, 0u) << joined(names);
    EXPECT_EQ(names.size(), 1 + 3 + 2 * (signals.size() - 2)) << joined(names);

    recordFigures(unmasked ? "hostile: signals, FP exceptions unmasked" : "hostile: signals",
                  n(static_cast<long long>(signals.size())) +
                      " hostile signals (quiet and signalling NaNs, +-inf, a denormal, DBL_MAX, -0, "
                      "INT32_MIN/MAX, 0, empty symbol), " +
                      n(static_cast<long long>(filed)) + " logged and filed; a " +
                      n(static_cast<long long>(longText.size())) +
                      "-byte text logged whole; null texts ignored; host exit " + n(result.exitCode) +
                      " in " + n(took) +
                      " ms; host's floating-point state after its export calls: " + fpCheck);
}

INSTANTIATE_TEST_SUITE_P(HostExceptions, HostileSignalsProof, ::testing::Values(false, true));

}  // namespace
