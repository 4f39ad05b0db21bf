#include "status/status_rules.h"

#include <gtest/gtest.h>

using namespace varnex;
using namespace varnex_tools;

namespace {

StatusReport report(uint32_t pid, const std::string &state, size_t owed) {
    StatusReport r;
    r.pid = pid;
    r.process = "C:\\host.exe";
    r.loaded = "2026/12/09 09:00:00";
    r.config = "C:\\windows\\Varnex.ini";
    r.updated = "2026/12/09 09:05:00";
    DestinationReport server{"tcp://127.0.0.1:5000",
                             state,
                             state == "up" ? "" : "2026/12/09 09:01:00",
                             state == "up" ? "" : "connect failed: refused",
                             state == "down" ? 1500 : -1,
                             owed,
                             {}};
    for (size_t i = 0; i < owed && i < kListedOwed; ++i)
        server.owed.push_back({"S" + std::to_string(i), 5, "2026/12/09 09:01:00"});
    r.destinations = {{"order pipe", "up", "", "", -1, 0, {}}, server};
    return r;
}

TEST(StatusRules, ATableOfStatesGivesItsLinesAndExitCode) {
    struct Case {
        const char *name;
        std::vector<FoundStatus> found;
        int exitCode;
        std::vector<std::string> shown;
    } cases[] = {
        {"no file", {}, 0, {"none: no host process with statusMode on"}},
        {"all up",
         {{"Varnex-1.status", report(1, "up", 0), true}},
         0,
         {"process 1 C:\\host.exe: running; loaded 2026/12/09 09:00:00 with C:\\windows\\Varnex.ini",
          "  tcp://127.0.0.1:5000        up\n",
          "1 running process: 0 destinations down or busy, 0 positions owed"}},
        {"down, owed",
         {{"Varnex-2.status", report(2, "down", 25), true}},
         1,
         {"  tcp://127.0.0.1:5000        down since 2026/12/09 09:01:00 (connect failed: refused); next try "
          "in 2 s; "
          "25 positions owed\n",
          "      S0          5       since 2026/12/09 09:01:00\n", "      ... and 5 more\n",
          "1 running process: 1 destination down or busy, 25 positions owed"}},
        {"gone with owed",
         {{"Varnex-3.status", report(3, "down", 1), false}},
         0,
         {"process 3 C:\\host.exe: gone: it ended without unloading the library; its last status (2026/12/09 "
          "09:05:00):",
          "0 running processes"}},
        {"half-written beside a running one",
         {{"Varnex-4.status", std::nullopt, false}, {"Varnex-5.status", report(5, "up", 0), true}},
         0,
         {"Varnex-4.status: not a whole status file"}},
    };
    StatusReport unloaded = report(6, "up", 2);
    unloaded.ended = true;
    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = statusListing("C:\\data\\", c.found);
        EXPECT_EQ(text.rfind("Varnex status files in C:\\data\\\n", 0), 0u);
        for (const std::string &line : c.shown) EXPECT_NE(text.find(line), std::string::npos) << text;
        EXPECT_EQ(statusExitCode(c.found), c.exitCode);
    }
    // A running process's file comes first; an unloaded one says what was left owed.
    const std::vector<FoundStatus> mixed = {{"Varnex-6.status", unloaded, true},
                                            {"Varnex-5.status", report(5, "busy", 0), true}};
    const std::string text = statusListing("C:\\data\\", mixed);
    EXPECT_LT(text.find("process 5"), text.find("process 6")) << text;
    EXPECT_NE(
        text.find("process 6 C:\\host.exe: unloaded the library at 2026/12/09 09:05:00; still owed then:"),
        std::string::npos);
    EXPECT_EQ(statusExitCode(mixed), 1);
}

}  // namespace
