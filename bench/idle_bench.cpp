// CPU time of processes that only wait: a registered receiver that no sender
// ever reaches, and a process that has sent one order whose receiver has since
// gone. Each measures itself over a 10 s window with GetProcessTimes (under
// Wine, whole 10 ms ticks); this process measures both from outside as well,
// as the Linux kernel counts them (per-thread run time in nanoseconds, read
// from Z:\proc\<pid>\task\*\schedstat), together with the wineserver's run time
// when its Linux process id is in VARNEX_WINESERVER_PID.
//   idle_bench.exe                          starts and measures the two below
//   idle_bench.exe receiver TAG FILE
//   idle_bench.exe sender TAG FILE
// TAG is in each child's command line, which is how its Linux process is found.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_report.h"

namespace {

constexpr int kWindows = 10;
constexpr DWORD kWindowMs = 1000;

double processTimesSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto value = [](const FILETIME &t) {
        return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return (value(kernel) + value(user)) / 1e7;
}

std::string readAll(const std::string &path) {
    std::string text;
    if (std::FILE *file = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
        std::fclose(file);
    }
    return text;
}

// First field of a Linux schedstat file: time on a CPU in nanoseconds; -1 if unreadable.
double schedstatSeconds(const std::string &path) {
    const std::string text = readAll(path);
    if (text.empty()) return -1;
    return std::strtoull(text.c_str(), nullptr, 10) / 1e9;
}

// Sum over a Linux process's threads; -1 where it cannot be read. (Z:\proc\self
// would be the wineserver, which opens files for Wine processes.)
double linuxSeconds(const std::string &pid) {
    if (pid.empty()) return -1;
    const std::string tasks = "Z:\\proc\\" + pid + "\\task\\";
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((tasks + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return -1;
    double sum = 0;
    bool any = false;
    do {
        if (found.cFileName[0] == '.') continue;
        const double s = schedstatSeconds(tasks + found.cFileName + "\\schedstat");
        if (s >= 0) sum += s, any = true;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return any ? sum : -1;
}

// The Linux process whose command line holds `tag`; Wine shows a process's
// Windows command line there.
std::string linuxPidWith(const std::string &tag) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE) return "";
    std::string pid;
    do {
        if (found.cFileName[0] < '0' || found.cFileName[0] > '9') continue;
        std::string line = readAll(std::string("Z:\\proc\\") + found.cFileName + "\\cmdline");
        for (char &c : line)
            if (c == '\0') c = ' ';
        if (line.find(tag) != std::string::npos) pid = found.cFileName;
    } while (pid.empty() && FindNextFileA(search, &found));
    FindClose(search);
    return pid;
}

HANDLE namedEvent(const std::string &tag, const char *what, bool create) {
    const std::string name = tag + "_" + what;
    return create ? CreateEventA(nullptr, TRUE, FALSE, name.c_str())
                  : OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name.c_str());
}

// In a child: GetProcessTimes over the window the measuring process opens and closes.
double ownWindowPercent(const std::string &tag) {
    WaitForSingleObject(namedEvent(tag, "start", false), 60000);
    const double wall0 = nowMicros(), cpu0 = processTimesSeconds();
    WaitForSingleObject(namedEvent(tag, "end", false), 60000);
    return (processTimesSeconds() - cpu0) / ((nowMicros() - wall0) / 1e6) * 100;
}

HANDLE orderArrived = nullptr;
void __stdcall onOrder(const char *) { SetEvent(orderArrived); }

int receiver(const std::string &tag, const char *file) {
    orderArrived = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Varnex varnex = loadVarnex(false);
    varnex.registerOrderFunc(onOrder);
    SetEvent(namedEvent(tag, "ready", false));
    const double percent = ownWindowPercent(tag);
    const bool delivered = WaitForSingleObject(orderArrived, 30000) == WAIT_OBJECT_0;
    if (std::FILE *out = std::fopen(file, "w")) {
        std::fprintf(out, "%.6f %d\n", percent, delivered ? 1 : 0);
        std::fclose(out);
    }
    return 0;
}

int sender(const std::string &tag, const char *file) {
    Varnex varnex = loadVarnex();
    const Today day = today();
    varnex.process(day.year, day.month, day.day, "IDLE", 1, 101.25);
    SetEvent(namedEvent(tag, "ready", false));
    const double percent = ownWindowPercent(tag);
    if (std::FILE *out = std::fopen(file, "w")) {
        std::fprintf(out, "%.6f 1\n", percent);
        std::fclose(out);
    }
    return 0;
}

struct Child {
    std::string tag, file, pid;
    PROCESS_INFORMATION info = {};
    HANDLE ready = nullptr, start = nullptr, end = nullptr;
};

bool startChild(Child &child, const char *role, const std::string &tag) {
    char temp[MAX_PATH], self[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    child.tag = tag;
    child.file = std::string(temp) + tag + ".txt";
    child.ready = namedEvent(tag, "ready", true);
    child.start = namedEvent(tag, "start", true);
    child.end = namedEvent(tag, "end", true);
    std::string command = "\"" + std::string(self) + "\" " + role + " " + tag + " \"" + child.file + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &child.info))
        return false;
    if (WaitForSingleObject(child.ready, 60000) != WAIT_OBJECT_0) return false;
    child.pid = linuxPidWith(tag);
    return true;
}

double serverSeconds() {
    const char *pid = std::getenv("VARNEX_WINESERVER_PID");
    return pid && *pid ? schedstatSeconds(std::string("Z:\\proc\\") + pid + "\\schedstat") : -1;
}

struct Window {
    double wall = 0, linuxFirst = -1, linuxLast = -1, server = -1;
    std::vector<double> seconds;
};

// Opens the child's window, samples the child from outside each second, closes it.
Window measure(Child &child) {
    Window w;
    SetEvent(child.start);
    const double wall0 = nowMicros(), server0 = serverSeconds();
    w.linuxFirst = w.linuxLast = linuxSeconds(child.pid);
    for (int i = 0; i < kWindows; ++i) {
        Sleep(kWindowMs);
        const double now = linuxSeconds(child.pid);
        if (now >= 0 && w.linuxLast >= 0)
            w.seconds.push_back((now - w.linuxLast) / (kWindowMs / 1000.0) * 100);
        w.linuxLast = now;
    }
    w.wall = (nowMicros() - wall0) / 1e6;
    const double server1 = serverSeconds();
    if (server0 >= 0 && server1 >= 0) w.server = (server1 - server0) / w.wall * 100;
    SetEvent(child.end);
    return w;
}

// Waits for the child to end, reads what it measured itself, prints the rows.
bool finish(Child &child, const Window &w, const char *id, const char *label) {
    WaitForSingleObject(child.info.hProcess, 60000);
    double own = -1;
    int delivered = 0;
    if (std::FILE *in = std::fopen(child.file.c_str(), "r")) {
        if (std::fscanf(in, "%lf %d", &own, &delivered) != 2) own = -1;
        std::fclose(in);
    }
    if (own == 0) own = 0;  // a difference of equal times can read -0, which the report would print
    DeleteFileA(child.file.c_str());
    const std::string l(label), i(id);
    if (own >= 0)
        reportRow(id, (l + " (GetProcessTimes)").c_str(), "% of a core", Spread{own, own, own}, "value<0.05");
    if (w.linuxFirst >= 0 && w.linuxLast >= 0) {
        Spread s = spreadOf(w.seconds);
        s.median = (w.linuxLast - w.linuxFirst) / w.wall * 100;
        reportRow((i + "_linux").c_str(), (l + " (Linux run time)").c_str(), "% of a core", s, "value<0.05");
    }
    if (w.server >= 0)
        reportRow((i + "_server").c_str(), (l + ": the wineserver meanwhile").c_str(), "% of a core",
                  Spread{w.server, w.server, w.server}, "-");
    return delivered == 1;
}

int orchestrate() {
    const std::string tag =
        "varnex-idle-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    std::printf("idle_bench: %d s per process, CPU as %% of one core\n",
                kWindows * static_cast<int>(kWindowMs) / 1000);
    std::fflush(stdout);
    Child receiverChild, senderChild;
    if (!startChild(receiverChild, "receiver", tag + "-r")) return 2;
    const Window receiverWindow = measure(receiverChild);
    {
        BenchIni ini;
        ini.set("Setting", "varnexMode", "True");
        ini.set("Setting", "signalMode", "False");
        // The sender reads it, sends its one order to the receiver, which then ends.
        if (!startChild(senderChild, "sender", tag + "-s")) return 3;
    }
    const bool delivered =
        finish(receiverChild, receiverWindow, "idle_receiver", "idle: registered receiver, no sender");
    const Window senderWindow = measure(senderChild);
    finish(senderChild, senderWindow, "idle_sender", "idle: after one send, receiver gone");
    reportNote(
        "idle_receiver",
        std::string(
            "Three processes: this one measures a receiver (registered, never reached) over 10 s, then "
            "starts a sender (varnexMode on) whose one order ") +
            (delivered ? "reached" : "did NOT reach") +
            " the receiver, which then ended; then the sender over 10 s. GetProcessTimes is each child's own "
            "figure, in whole 10 ms ticks under Wine (0.1 % of a core over 10 s); the Linux run time sums "
            "the child's threads' schedstat (ns), its spread is over 1 s windows. The wineserver figure "
            "includes "
            "this process's own reading of /proc once a second (Wine opens files through the wineserver), so "
            "the sender's window, where the child itself ran not at all, shows roughly that share." +
            (receiverChild.pid.empty() || senderChild.pid.empty() ? " A child's Linux process was not found."
                                                                  : ""));
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 4 && std::string(argv[1]) == "receiver") return receiver(argv[2], argv[3]);
    if (argc == 4 && std::string(argv[1]) == "sender") return sender(argv[2], argv[3]);
    return orchestrate();
}
