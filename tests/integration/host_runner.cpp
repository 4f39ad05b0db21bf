#include "integration/host_runner.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "common/tcp_socket.h"

namespace varnex_test {

namespace {

const char *const kIsolatedEnd = "ISOLATED HOST END";

std::string windowsPath(std::string path) {
    for (char &c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

// A shell script that starts the host inside a private mount namespace with
// its own resolv.conf, written through Wine's Z: drive. Wine gives a Unix
// child neither our pipe nor a process handle to wait on, so the script
// writes the host's output to <base>.out, and the host's script is given a
// last line that prints kIsolatedEnd. Returns <base>, a Unix path.
std::string isolatedLauncher(const std::string &scriptPath, const std::string &resolver) {
    static unsigned counter = 0;
    const std::string base =
        "/tmp/varnex_host_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter);
    writeFile(windowsPath(base + ".conf"), "nameserver " + resolver + "\n");
    // Wine passes its own variables to Unix children only in part; the
    // loader of this program's bitness is the fallback.
    const std::string loader = sizeof(void *) == 8 ? "/usr/lib/wine/wine64" : "/usr/lib/wine/wine";
    writeFile(
        windowsPath(base + ".sh"),
        "rc=" + base + ".conf\n" +
            "exec unshare -m sh -c 'mount --bind \"$0\" /etc/resolv.conf && shift && exec \"$@\"' \"$rc\" x "
            "\"${WINELOADER:-" +
            loader + "}\" '" + binFolder() + "test_host.exe' '" + scriptPath + "' >" + base + ".out 2>&1\n");
    return base;
}

}  // namespace

HostProcess::HostProcess(const TempFolder &folder, const std::string &scriptName, const std::string &script,
                         bool withConsole)
    : HostProcess(folder, scriptName, script, withConsole ? HostConsole::Read : HostConsole::None) {}

HostProcess::HostProcess(const TempFolder &folder, const std::string &scriptName, const std::string &script,
                         HostConsole console, const std::string &resolver) {
    const std::string scriptPath = folder.file(scriptName);
    writeFile(scriptPath, resolver.empty() ? script : script + "\njoin\necho|" + kIsolatedEnd + "\n");
    ChildOptions options;
    options.console = console;
    std::string command = "\"" + binFolder() + "test_host.exe\" \"" + scriptPath + "\"";
    if (!resolver.empty()) {
        isolated_ = isolatedLauncher(scriptPath, resolver);
        command = "/bin/sh " + isolated_ + ".sh";
        options.application = "Z:\\bin\\sh";
        options.outputFile = windowsPath(isolated_ + ".out");
    }
    child_ = std::make_unique<ChildProcess>(command, options);
}

HostResult HostProcess::finish() {
    if (isolated_.empty()) return child_->finish(120000);
    HostResult result;
    // The host's last line comes just before it exits.
    if (!waitForOutput(kIsolatedEnd, 120000)) ADD_FAILURE() << "the isolated host did not end: " << isolated_;
    Sleep(200);
    result.output = child_->output();
    for (const char *part : {".sh", ".conf", ".out"}) DeleteFileA(windowsPath(isolated_ + part).c_str());
    return result;
}

HostResult runHost(const TempFolder &folder, const std::string &script, bool withConsole) {
    HostProcess host(folder, "script.txt", script, withConsole);
    return host.finish();
}

std::vector<std::string> ordersIn(const std::string &output) {
    std::vector<std::string> orders;
    size_t at = 0;
    while ((at = output.find("ORDER ", at)) != std::string::npos) {
        const size_t end = output.find("\r\n", at);
        orders.push_back(output.substr(at + 6, end - at - 6));
        at = end;
    }
    return orders;
}

std::pair<long, long> countsIn(const std::string &output, const std::string &label) {
    const size_t at = output.find("COUNTS " + label + " ");
    if (at == std::string::npos) return {-1, -1};
    long handles = -1, threads = -1;
    std::sscanf(output.c_str() + at, "COUNTS %*s handles=%ld threads=%ld", &handles, &threads);
    return {handles, threads};
}

long long countIn(const std::string &output, const std::string &label, const std::string &figure) {
    const size_t line = output.find("COUNTS " + label + " ");
    if (line == std::string::npos) return -1;
    const size_t end = output.find('\n', line);
    const size_t at = output.find(" " + figure + "=", line);
    if (at == std::string::npos || at > end) return -1;
    return std::atoll(output.c_str() + at + figure.size() + 2);
}

Timings timingsOf(const std::string &output) {
    Timings timings;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, 6, "TIMED ") != 0) continue;
        std::istringstream fields(line.substr(6));
        std::string symbol, quantity;
        unsigned long ms = 0;
        std::string at;
        fields >> symbol >> quantity >> ms >> at;
        if (at.compare(0, 3, "at=") == 0)
            timings.returnedAt[symbol][std::atoi(quantity.c_str())] =
                std::strtoull(at.c_str() + 3, nullptr, 10);
        timings.longest[symbol] = std::max(timings.longest[symbol], ms);
        ++timings.count[symbol];
        timings.total += ms;
    }
    return timings;
}

int closedPort() {
    varnex_tools::TcpServerSocket probe(0, 1, 0);
    return probe.boundPort();
}

std::string iniPath() {
    char windows[MAX_PATH];
    UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows, length) + "\\Varnex.ini";
}

void writeIni(const std::string &content) { writeFile(iniPath(), content); }

void removeIni() { DeleteFileA(iniPath().c_str()); }

std::string settingIni(const TempFolder &folder, const std::string &extraLines) {
    return "[Setting]\r\ndriverName=" + folder.path() + "\r\n" + extraLines;
}

HostResult runConfigured(const TempFolder &folder, const std::string &extraLines, const std::string &script,
                         bool withConsole) {
    writeIni(settingIni(folder, extraLines));
    return runHost(folder, script, withConsole);
}

::testing::AssertionResult exitedCleanly(const HostResult &run) {
    if (run.exitCode == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the host exited with " << run.exitCode << "; its output:\n"
                                         << run.output;
}

::testing::AssertionResult printed(const HostResult &run, const std::string &text) {
    if (run.output.find(text) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the host did not print \"" << text << "\"; its output:\n"
                                         << run.output;
}

}  // namespace varnex_test
