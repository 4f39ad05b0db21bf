// _process per changed signal with only the log and the signal file on, next
// to the same file work done with the plain Win32 calls: two log lines
// appended and the signal file rewritten, each opened, written once and
// closed. Rounds of each alternate so that both see the same machine. Then
// the library reloaded with every destination on: a changed signal's whole
// road, its pipe relay received by this very process.
#include <winsock2.h>
// windows.h after winsock2.h, which it would otherwise pull in the old winsock.h for.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ack_server.h"
#include "bench_report.h"

namespace {

void VARNEX_CALL ignoreOrder(const char *) {}

// The same bytes the library writes: a fresh time stamp, the separator, the
// text and CR LF. The local clock read the cheapest way (GetLocalTime; the C
// runtime's localtime costs some microseconds more under Wine).
std::string stampedLine(char separator, const char *text) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[80];
    std::snprintf(stamp, sizeof stamp, "%04u/%02u/%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond);
    return std::string(stamp) + separator + text + "\r\n";
}

void writeWhole(const std::string &path, DWORD access, DWORD disposition, const std::string &line) {
    HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

// What multi-process safety costs at the least, done by hand: an append under
// a byte-range lock far beyond the data, and a rewrite that replaces the file
// with a complete new one, so other processes never see a torn or mixed line.
void appendLocked(const std::string &path, const std::string &line) {
    HANDLE file = CreateFileA(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    OVERLAPPED region = {};
    region.OffsetHigh = 0x40000000;
    LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &region);
    DWORD written;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    UnlockFileEx(file, 0, 1, 0, &region);
    CloseHandle(file);
}

void replaceWhole(const std::string &path, const std::string &temp, const std::string &line) {
    writeWhole(temp, GENERIC_WRITE, CREATE_ALWAYS, line);
    MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

int main() {
    const std::string folder = benchFolder("varnex_process_bench");
    const std::string handLog = folder + "HandMsg.txt", handSignal = folder + "HAND.txt";
    Varnex varnex;
    {
        BenchIni ini;
        ini.set("Setting", "driverName", folder);
        ini.set("Setting", "logMode", "True");
        ini.set("Setting", "signalMode", "True");
        varnex = loadVarnex();
    }
    const Today day = today();
    constexpr int kRounds = 40, kSignals = 10;
    const std::string safeLog = folder + "SafeMsg.txt", safeSignal = folder + "SAFE.txt",
                      safeTemp = folder + "SAFE.tmp";
    std::vector<double> library, floor, safeFloor;
    int quantity = 0;
    for (int round = 0; round < kRounds; ++round) {
        double start = nowMicros();
        for (int i = 0; i < kSignals; ++i)
            varnex.process(day.year, day.month, day.day, "BENCH", ++quantity, 101.25);
        library.push_back((nowMicros() - start) / kSignals);

        start = nowMicros();
        for (int i = 0; i < kSignals; ++i) {
            writeWhole(handLog, FILE_APPEND_DATA, OPEN_ALWAYS, stampedLine('\t', "BENCH: 1,101.25"));
            writeWhole(handLog, FILE_APPEND_DATA, OPEN_ALWAYS, stampedLine('\t', "BENCH qty=\t2 preQty=\t1"));
            writeWhole(handSignal, GENERIC_WRITE, CREATE_ALWAYS, stampedLine(' ', "1 101.25"));
        }
        floor.push_back((nowMicros() - start) / kSignals);

        start = nowMicros();
        for (int i = 0; i < kSignals; ++i) {
            appendLocked(safeLog, stampedLine('\t', "BENCH: 1,101.25"));
            appendLocked(safeLog, stampedLine('\t', "BENCH qty=\t2 preQty=\t1"));
            replaceWhole(safeSignal, safeTemp, stampedLine(' ', "1 101.25"));
        }
        safeFloor.push_back((nowMicros() - start) / kSignals);
    }
    // The commonest call of all: a signal whose position did not change, with
    // the log on. Its two lines go out in one locked append; by hand, the
    // same lines in one locked append, and in one plain append.
    std::vector<double> unchanged, oneLocked, onePlain;
    auto unchangedLines = [] {
        return stampedLine('\t', "BENCH: 1,101.25") + stampedLine('\t', "BENCH qty=\t1");
    };
    for (int round = 0; round < kRounds; ++round) {
        double start = nowMicros();
        for (int i = 0; i < kSignals; ++i)
            varnex.process(day.year, day.month, day.day, "BENCH", quantity, 101.25);
        unchanged.push_back((nowMicros() - start) / kSignals);

        start = nowMicros();
        for (int i = 0; i < kSignals; ++i) appendLocked(safeLog, unchangedLines());
        oneLocked.push_back((nowMicros() - start) / kSignals);

        start = nowMicros();
        for (int i = 0; i < kSignals; ++i)
            writeWhole(handLog, FILE_APPEND_DATA, OPEN_ALWAYS, unchangedLines());
        onePlain.push_back((nowMicros() - start) / kSignals);
    }
    std::printf("process_bench: %d rounds of %d changed signals, log and signal file on\n", kRounds,
                kSignals);
    reportRow("files", "files only: `_process` per changed signal", "us", spreadOf(library),
              "2 appends + 1 rewrite, CreateFile/WriteFile/CloseHandle", spreadOf(floor), "ratio<=1.05");
    reportNote("files",
               "Floor: per signal, two log lines appended (CreateFileA OPEN_ALWAYS with FILE_APPEND_DATA, "
               "WriteFile, CloseHandle) and the signal file rewritten (CreateFileA CREATE_ALWAYS, WriteFile, "
               "CloseHandle), each line with a fresh time stamp, the same bytes as the library's. " +
                   std::to_string(kRounds) + " alternating rounds of " + std::to_string(kSignals) +
                   " signals each.");
    reportRow("files-safe", "files only, against the same multi-process-safe steps by hand", "us",
              spreadOf(library), "2 locked appends + 1 replace, by hand", spreadOf(safeFloor), "ratio<=1.05");
    reportNote("files-safe",
               "Floor: the steps that keep lines whole across processes, done by hand: each append "
               "opened with FILE_READ_DATA|FILE_APPEND_DATA, LockFileEx on one byte far beyond the data, "
               "WriteFile, UnlockFileEx, CloseHandle; the signal file written to a temporary file "
               "(CreateFileA, WriteFile, CloseHandle) and moved over the target with MoveFileExA. "
               "The plain floor above lacks these steps, so it cannot be met by a library that must "
               "not tear or lose lines when several processes write the same files.");
    reportRow("unchanged-locked", "unchanged signal, log on, against one locked append of its lines", "us",
              spreadOf(unchanged), "1 locked append of 2 lines, by hand", spreadOf(oneLocked), "ratio<=1.05");
    reportRow("unchanged-plain", "unchanged signal, log on, against one plain append of its lines", "us",
              spreadOf(unchanged), "1 plain append of 2 lines, by hand", spreadOf(onePlain), "-");
    reportNote("unchanged-locked",
               "An unchanged position with only the log on: the library's two lines (the signal and the "
               "position) against the same two stamped lines in one append by hand, locked as above or "
               "plain (CreateFileA OPEN_ALWAYS with FILE_APPEND_DATA, WriteFile, CloseHandle). The rows "
               "above them use changed signals; these use the same symbol at its last quantity.");
    // A fresh library (a reload reads Varnex.ini anew) with every destination on.
    FreeLibrary(varnex.module);
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    std::vector<double> everything;
    {
        AckServer server(0, 1);
        {
            BenchIni ini;
            ini.set("Setting", "driverName", folder);
            for (const char *key : {"logMode", "signalMode", "signalDebugMode", "varnexMode", "socketClient"})
                ini.set("Setting", key, "True");
            ini.set("SocketClient", "clientID", "BENCH");
            ini.set("SC-BENCH", "serverIp", "127.0.0.1");
            ini.set("SC-BENCH", "serverPort", std::to_string(server.port()));
            varnex = loadVarnex();
        }
        varnex.registerOrderFunc(ignoreOrder);
        for (int round = 0; round < kRounds; ++round) {
            const double start = nowMicros();
            for (int i = 0; i < kSignals; ++i)
                varnex.process(day.year, day.month, day.day, "BENCH", ++quantity, 101.25);
            everything.push_back((nowMicros() - start) / kSignals);
        }
        FreeLibrary(varnex.module);
    }
    WSACleanup();
    reportRow("every-destination", "changed signal, every destination on, against files only", "us",
              spreadOf(everything), "files only (the first row)", spreadOf(library), "-");
    reportNote("every-destination",
               "The library reloaded with the log, the signal and signal debug files, the pipe relay (to an "
               "order function registered in the same process) and the TCP relay (to a loopback server "
               "answering OK) all on; against the library's own files-only cost above, so the ratio is "
               "what the relays add to a changed signal.");
    for (const char *name : {"VarnexMsg.txt", "BENCH_debug.txt", "BENCH.txt", "HandMsg.txt", "HAND.txt",
                             "SafeMsg.txt", "SAFE.txt"})
        DeleteFileA((folder + name).c_str());
    RemoveDirectoryA(folder.c_str());
    return 0;
}
