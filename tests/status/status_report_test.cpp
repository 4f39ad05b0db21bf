#include "status/status_report.h"

#include <gtest/gtest.h>

using namespace varnex;

namespace {

StatusReport sample() {
    StatusReport r;
    r.pid = 4242;
    r.process = "C:\\Trading\\host.exe";
    r.loaded = "2026/12/09 09:00:00";
    r.config = "C:\\windows\\Varnex.ini";
    r.updated = "2026/12/09 09:05:00";
    DestinationReport server{"tcp://127.0.0.1:5000",
                             "down",
                             "2026/12/09 09:01:00",
                             "connect failed: WSAECONNREFUSED (10061)\tConnection refused.",
                             800,
                             2,
                             {}};
    server.owed = {{"ABC", 5, "2026/12/09 09:01:00"}, {"XYZ", -3, "2026/12/09 09:02:00"}};
    r.destinations = {server, {"order pipe", "up", "", "", -1, 0, {}}};
    return r;
}

TEST(StatusReport, AReportReadsBackAsWrittenAndTellsWhetherAnythingIsDownOrOwed) {
    StatusReport r = sample();
    const std::optional<StatusReport> read = parseStatus(statusText(r));
    ASSERT_TRUE(read);
    // A separator inside a text becomes a blank; everything else comes back.
    r.destinations[0].reason = "connect failed: WSAECONNREFUSED (10061) Connection refused.";
    EXPECT_EQ(*read, r);
    EXPECT_FALSE(r.clear());
    struct Case {
        const char *state;
        size_t owed;
        bool clear;
    } cases[] = {{"up", 0, true}, {"up", 1, false}, {"down", 0, false}, {"busy", 0, false}};
    for (const Case &c : cases) {
        StatusReport one;
        one.destinations = {{"order pipe", c.state, "", "", -1, c.owed, {}}};
        EXPECT_EQ(one.clear(), c.clear) << c.state << " " << c.owed;
    }
    r.ended = true;
    EXPECT_NE(statusText(r).find("\r\nlibrary\tunloaded\r\n"), std::string::npos);
    EXPECT_TRUE(parseStatus(statusText(r))->ended);
}

TEST(StatusReport, ACutOrGarbledFileIsNoReport) {
    const std::string whole = statusText(sample());
    // Cut anywhere before its last line: never taken for a report.
    for (size_t length = 0; length < whole.size(); ++length)
        EXPECT_FALSE(parseStatus(whole.substr(0, length))) << length;
    for (const std::string &garbled :
         {whole + "extra\r\n", "varnex status 2" + whole.substr(15),
          whole.substr(0, whole.find("pid")) + "pid\tx\r\n" + whole.substr(whole.find("process"))})
        EXPECT_FALSE(parseStatus(garbled)) << garbled;
}

TEST(StatusReport, FileNamesAreNeverSignalFilesAndGiveBackTheirProcess) {
    EXPECT_EQ(statusFileName(4242), "Varnex-4242.status");
    EXPECT_EQ(statusFilePid("Varnex-4242.status"), 4242u);
    for (const char *other :
         {"Varnex-.status", "Varnex-12x.status", "Varnex-1.txt", "ABC.txt", "Varnex-99999999999.status"})
        EXPECT_FALSE(statusFilePid(other)) << other;
}

}  // namespace
