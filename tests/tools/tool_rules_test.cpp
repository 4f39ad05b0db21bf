// The tools' pure rules: replay lines, option numbers, load error texts and
// the doctor's findings on configurations built by hand.
#include <gtest/gtest.h>

#include "common/tool_text.h"
#include "doctor/doctor_rules.h"
#include "replay/csv_signals.h"

using namespace varnex_tools;

namespace {

TEST(ReplayLineTest, GoodLinesGiveTheirSignal) {
    ParsedLine line = parseSignalLine(" 2024-02-29 , ABC , -12 , 101.25 \r", false);
    ASSERT_EQ(line.kind, LineKind::Signal) << line.error;
    EXPECT_FALSE(line.signal.today);
    EXPECT_EQ(line.signal.year, 2024);
    EXPECT_EQ(line.signal.month, 2);
    EXPECT_EQ(line.signal.day, 29);
    EXPECT_EQ(line.signal.symbol, "ABC");
    EXPECT_EQ(line.signal.quantity, -12);
    EXPECT_EQ(line.signal.price, 101.25);
    line = parseSignalLine("Today,X.Y,2147483647,1e3", false);
    ASSERT_EQ(line.kind, LineKind::Signal) << line.error;
    EXPECT_TRUE(line.signal.today);
    EXPECT_EQ(line.signal.quantity, 2147483647);
    EXPECT_EQ(line.signal.price, 1000.0);
    EXPECT_EQ(parseSignalLine("today,A,-2147483648,-.5", false).signal.quantity, -2147483647 - 1);
}

TEST(ReplayLineTest, HeaderBlankAndCommentLinesAreSkipped) {
    EXPECT_EQ(parseSignalLine("date,symbol,quantity,price", true).kind, LineKind::Skip);
    EXPECT_EQ(parseSignalLine("Date,Symbol,Qty,Price", true).kind, LineKind::Skip);
    EXPECT_EQ(parseSignalLine("date,symbol,quantity,price", false).kind,
              LineKind::Bad);  // only as the first line
    EXPECT_EQ(parseSignalLine("   \r", false).kind, LineKind::Skip);
    EXPECT_EQ(parseSignalLine("# a comment", false).kind, LineKind::Skip);
}

TEST(ReplayLineTest, BadLinesSayWhatIsWrong) {
    struct Case {
        const char *line;
        const char *error;
    };
    const Case cases[] = {
        {"today,ABC,1", "expected 4 fields"},
        {"today,ABC,1,2,3", "found 5"},
        {"today,ABC,1.5,2", "quantity \"1.5\" is not a 32-bit integer"},
        {"today,ABC,2147483648,2", "not a 32-bit integer"},
        {"today,ABC,-2147483649,2", "not a 32-bit integer"},
        {"today,ABC,,2", "not a 32-bit integer"},
        {"today,ABC,1,abc", "price \"abc\" is not a number"},
        {"today,ABC,1,", "price \"\" is not a number"},
        {"today,ABC,1,inf", "is not a number"},
        {"today,ABC,1,nan", "is not a number"},
        {"today,ABC,1,1.2.3", "is not a number"},
        {"today,ABC,1,1e999", "is not a number"},
        {"2023-02-29,ABC,1,2", "date 2023-02-29 does not exist"},
        {"1900-02-29,ABC,1,2", "does not exist"},
        {"2024-04-31,ABC,1,2", "does not exist"},
        {"2024-13-01,ABC,1,2", "does not exist"},
        {"2024-00-10,ABC,1,2", "does not exist"},
        {"24-01-01,ABC,1,2", "is not YYYY-MM-DD or today"},
        {"2024/01/01,ABC,1,2", "is not YYYY-MM-DD or today"},
        {"yesterday,ABC,1,2", "is not YYYY-MM-DD or today"},
        {"today,,1,2", "symbol is empty"},
    };
    for (const Case &c : cases) {
        const ParsedLine parsed = parseSignalLine(c.line, false);
        EXPECT_EQ(parsed.kind, LineKind::Bad) << c.line;
        EXPECT_NE(parsed.error.find(c.error), std::string::npos) << c.line << ": " << parsed.error;
    }
}

TEST(ReplayLineTest, CalendarKnowsLeapYears) {
    EXPECT_TRUE(isRealDate(2000, 2, 29));
    EXPECT_TRUE(isRealDate(2024, 2, 29));
    EXPECT_FALSE(isRealDate(2100, 2, 29));
    EXPECT_TRUE(isRealDate(2023, 12, 31));
    EXPECT_FALSE(isRealDate(2023, 6, 31));
    EXPECT_FALSE(isRealDate(0, 1, 1));
}

TEST(ToolTextTest, IntegersAreWholeAndInRange) {
    int64_t value = 0;
    EXPECT_TRUE(parseInteger("-17", -100, 100, value));
    EXPECT_EQ(value, -17);
    EXPECT_TRUE(parseInteger("+5", 0, 10, value));
    EXPECT_EQ(value, 5);
    EXPECT_FALSE(parseInteger("11", 0, 10, value));
    EXPECT_FALSE(parseInteger("1x", 0, 10, value));
    EXPECT_FALSE(parseInteger("", 0, 10, value));
    EXPECT_FALSE(parseInteger("-", 0, 10, value));
    EXPECT_FALSE(parseInteger("99999999999999999999", 0, INT64_MAX, value));
}

TEST(ToolTextTest, LoadErrorsExplainMissingAndWrongBitness) {
    EXPECT_EQ(loadErrorText(126).rfind("error 126: ", 0), 0u);
    EXPECT_NE(loadErrorText(126).find("not found"), std::string::npos);
    EXPECT_NE(loadErrorText(193).find("other bitness"), std::string::npos);
    EXPECT_NE(loadErrorText(31).find("error 31:"), std::string::npos);
}

TEST(ToolTextTest, OnlyLoopbackAddressesAreAccepted) {
    EXPECT_TRUE(isLoopbackAddress("127.0.0.1"));
    EXPECT_TRUE(isLoopbackAddress("127.255.0.9"));
    EXPECT_FALSE(isLoopbackAddress("0.0.0.0"));
    EXPECT_FALSE(isLoopbackAddress("10.0.0.1"));
    EXPECT_FALSE(isLoopbackAddress("127.0.0"));
    EXPECT_FALSE(isLoopbackAddress("127.0.0.256"));
    EXPECT_FALSE(isLoopbackAddress("127.0.0.1.5"));
    EXPECT_FALSE(isLoopbackAddress("localhost"));
}

class DoctorRulesTest : public ::testing::Test {
protected:
    DoctorRulesTest() {
        config.driverName = {"C:\\data\\", true, true};
        config.signalMode.on = true;
        config.signalFile = {"Signal.txt", false, true};
        folder.checked = true;
        folder.exists = true;
        folder.writable = true;
        sections = {{"Setting", {{"driverName", "C:\\data\\"}, {"logmode", "True"}}}};
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const Finding &finding : checkConfiguration(config, sections, folder))
            out.push_back(finding.text);
        return out;
    }
    bool has(const std::string &part) const {
        for (const std::string &text : texts())
            if (text.find(part) != std::string::npos) return true;
        return false;
    }
    varnex::VarnexConfig config;
    std::vector<RawSection> sections;
    FolderState folder;
};

TEST_F(DoctorRulesTest, ACleanConfigurationHasNoFindings) { EXPECT_TRUE(texts().empty()) << texts()[0]; }

TEST_F(DoctorRulesTest, SwitchesMeantAsOnAreNamed) {
    config.signalMode = {false, "TRUE", true};
    config.logMode = {false, "1", true};
    config.varnexMode = {false, "False", true};
    config.socketClient = {false, "ture", true};
    config.signalDebugMode = {false, "", false};
    EXPECT_TRUE(has("signalMode=TRUE counts as OFF"));
    EXPECT_TRUE(has("logMode=1 counts as OFF"));
    EXPECT_TRUE(has("socketClient=ture is neither True nor False"));
    EXPECT_FALSE(has("varnexMode"));
}

TEST_F(DoctorRulesTest, DriverNameNeedsItsBackslashAndAWritableFolder) {
    config.driverName.value = "C:\\data";
    EXPECT_TRUE(
        has("driverName \"C:\\data\" does not end with a backslash: the signal file of ABC would be "
            "C:\\dataABC.txt"));
    config.driverName.value = "C:\\data\\";
    folder.exists = false;
    EXPECT_TRUE(has("C:\\data\\, does not exist"));
    folder.exists = true;
    folder.writable = false;
    EXPECT_TRUE(has("cannot be written"));
    EXPECT_EQ(driverFolder("C:\\data\\out"), "C:\\data\\");
    EXPECT_EQ(driverFolder("out"), "");
}

TEST_F(DoctorRulesTest, PathsPastMaxPathAreNamed) {
    struct Case {
        size_t driverBytes;
        bool logOn, debugOn;
        std::optional<std::string> symbol;
        std::vector<std::string> named;  // what the warnings name, in order
    };
    const std::string longSymbol(60, 'S');
    // clang-format off
    const std::vector<Case> cases = {
        // 246 + 13 = 259 bytes, exactly MAX_PATH with its NUL; 10 are left for a stem before ".txt".
        {246, true, false, std::nullopt, {"symbols of 10 bytes or more"}},
        {247, true, false, longSymbol, {"the path of the log file is 260 characters long",
                                        "the signal file of " + longSymbol + " is 311", "symbols of 9 bytes or more"}},
        {254, false, true, std::nullopt, {"the signal file of the empty symbol is 264",
                                          "the signal debug file of the empty symbol is 269", "symbols of 1 byte or more"}},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.driverBytes);
        config.driverName.value = "C:\\" + std::string(c.driverBytes - 4, 'd') + "\\";
        config.logMode.on = c.logOn;
        config.logFile.value = "VarnexMsg.txt";
        config.signalDebugMode.on = c.debugOn;
        config.signalDebugFile.value = "SignalDebug.txt";
        std::vector<std::string> named;
        for (const Finding &finding : checkConfiguration(config, sections, folder, c.symbol))
            if (finding.text.find("MAX_PATH") != std::string::npos) named.push_back(finding.text);
        ASSERT_EQ(named.size(), c.named.size()) << (named.empty() ? "" : named[0]);
        for (size_t i = 0; i < named.size(); ++i)
            EXPECT_NE(named[i].find(c.named[i]), std::string::npos) << named[i];
    }
}

TEST_F(DoctorRulesTest, UnknownKeysAndSectionsAreLikelyTypos) {
    sections.push_back({"Settings", {{"logMode", "True"}}});
    sections[0].entries.push_back({"logMod", "True"});
    sections[0].entries.push_back({"SIGNALMODE", "True"});
    EXPECT_TRUE(has("unknown key logMod in [Setting] is not read by the library (a typo of logMode?)"));
    EXPECT_TRUE(has("section [Settings] is not read"));
    EXPECT_FALSE(has("logmode"));
    EXPECT_FALSE(has("SIGNALMODE"));
}

TEST_F(DoctorRulesTest, LongValuesAreReportedAsCut) {
    sections[0].entries.push_back({"logFile", std::string(32768, 'x')});
    EXPECT_TRUE(has("[Setting] logFile is 32768 characters long; the library reads only its first 32767"));
    sections[0].entries.back().value.resize(32767);
    EXPECT_FALSE(has("characters long"));
}

TEST_F(DoctorRulesTest, LogRotationValuesThatDoNothingAreNamed) {
    struct Case {
        const char *rotate, *keep;
        int keepValue;
        const char *named;  // empty: no finding
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"daily", "7", 7, ""},
        {"", "", 0, ""},
        {"weekly", "", 0, "logRotate=weekly is not daily: the log stays one file"},
        {"", "7", 7, "logKeepDays=7 deletes nothing: only daily logs (logRotate=daily) are deleted"},
        {"daily", "seven", 0, "logKeepDays=seven is no number of days from 1 to 2147483647: every daily log is kept"},
        {"daily", "-2", 0, "logKeepDays=-2 is no number of days from 1 to 2147483647"},
        {"daily", "99999999999", 0, "logKeepDays=99999999999 is no number of days from 1 to 2147483647"},
        {"daily", "0", 0, ""},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.rotate) + "/" + c.keep);
        config.logMode = {true, "True", true};
        config.logRotate = {c.rotate, *c.rotate != '\0', true};
        config.logKeepDays = {c.keepValue, c.keepValue, c.keep, *c.keep != '\0'};
        if (*c.named)
            EXPECT_TRUE(has(c.named)) << (texts().empty() ? "" : texts()[0]);
        else
            EXPECT_TRUE(texts().empty()) << texts()[0];
    }
}

TEST_F(DoctorRulesTest, DebugFileWithoutSignalFilesIsNamed) {
    config.signalMode.on = false;
    config.signalDebugMode.on = true;
    EXPECT_TRUE(has("signalDebugMode is on while signalMode is off"));
}

TEST_F(DoctorRulesTest, ClientIdentifiersAndEndpointsAreChecked) {
    config.socketClient = {true, "True", true};
    config.clientID = {"ABC, B,ABC,", true, true};
    sections.push_back({"sc-abc", {{"serverPort", "0"}}});
    sections.push_back({"SC- B", {{"serverPort", "70000"}, {"serverIP", "127.0.0.1"}}});
    sections.push_back({"SC-ABD", {{"serverPort", "5000"}}});
    varnex::EndpointSettings abc, b, empty;
    abc.id = "ABC";
    b.id = " B";
    b.serverPort.written = 70000;
    b.serverPort.text = "70000";
    b.serverPort.fromFile = true;
    b.ackTimeout = {2147483647, 120000, "2147483647", true};
    empty.id = "";
    empty.serverPort.value = 5000;
    config.endpoints = {abc, b, empty};
    EXPECT_TRUE(has("client identifier \" B\" has blanks"));
    EXPECT_TRUE(has("client identifier ABC is listed twice"));
    EXPECT_TRUE(has("holds an empty identifier"));
    EXPECT_TRUE(has("[SC-ABC] serverPort (not set) is not a TCP port (1 to 65535): no order is sent"));
    EXPECT_TRUE(has("[SC- B] serverPort=70000 is not a TCP port (1 to 65535)"));
    EXPECT_TRUE(has("[SC- B] ackTimeout=2147483647 is outside 1 to 120000 ms: 120000 ms is used"));
    EXPECT_TRUE(has("section [SC-] for client identifier \"\" is missing"));
    EXPECT_FALSE(has("section [SC-ABC]"));  // section names are matched without regard to case
    EXPECT_TRUE(has("section [SC-ABD] is not used: ABD is not listed in clientID"));
    EXPECT_FALSE(has("serverIP"));
}

TEST(SectionBlockTest, KeysAndValuesAreSplitAtTheFirstEqualsSign) {
    const char block[] = "a=1\0b=x=y\0c\0\0";
    const std::vector<RawEntry> entries = parseSectionBlock(block, sizeof block - 1);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1].key, "b");
    EXPECT_EQ(entries[1].value, "x=y");
    EXPECT_EQ(entries[2].key, "c");
}

}  // namespace
