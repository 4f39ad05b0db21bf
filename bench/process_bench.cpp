// _process with only the log and the signal file on, next to the same file
// work done by hand with the plain Win32 calls, rounds of each alternating so
// that both see the same machine:
// - a changed signal (two log lines appended, the signal file rewritten)
//   against the same steps through files opened per line, and against the
//   steps that keep lines whole across processes, done by hand;
// - an unchanged signal (its two log lines) against one append of the same
//   lines through a file kept open, guarded as the library guards it, with
//   and without the library's rename check, unguarded, and through a file
//   opened and locked per line as the library did before it kept files open;
// - the cross-process guards that were measured for the choice: a shared
//   word (the library's), a byte-range lock, a named mutex; and the rename
//   check alone.
// Then the library reloaded with every destination on: a changed signal's
// whole road, its pipe relay received by this very process.
#include <winsock2.h>
// windows.h after winsock2.h, which it would otherwise pull in the old winsock.h for.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ack_server.h"
#include "bench_report.h"

namespace {

void VARNEX_CALL ignoreOrder(const char *) {}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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

// How the library appended before it kept files open: opened per append,
// under a byte-range lock far beyond the data.
void appendLocked(const std::string &path, const std::string &line) {
    HANDLE file = CreateFileA(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA, kShareAll, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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

// A file kept open for appends, with the guards by hand: a word in shared
// memory taken with a compare-exchange (as the library does, without its
// waiting, which one process never needs), a byte-range lock, a named mutex.
class KeptFile {
public:
    explicit KeptFile(const std::string &path)
        : path_(path),
          file_(CreateFileA(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA | SYNCHRONIZE, kShareAll, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)),
          mapping_(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                      "Local\\VarnexBench.guard")),
          word_(static_cast<volatile LONG *>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, 0))),
          mutex_(CreateMutexA(nullptr, FALSE, "Local\\VarnexBench.mutex")) {}
    ~KeptFile() {
        UnmapViewOfFile(const_cast<LONG *>(word_));
        CloseHandle(mapping_);
        CloseHandle(mutex_);
        CloseHandle(file_);
    }
    void write(const std::string &bytes) {
        DWORD written;
        WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
    void takeWord() {
        const LONG self = static_cast<LONG>(GetCurrentThreadId());
        while (InterlockedCompareExchange(word_, self, 0) != 0) YieldProcessor();
    }
    void releaseWord() { InterlockedCompareExchange(word_, 0, static_cast<LONG>(GetCurrentThreadId())); }
    void lockRegion() { LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, region()); }
    void unlockRegion() { UnlockFileEx(file_, 0, 1, 0, region()); }
    void takeMutex() { WaitForSingleObject(mutex_, INFINITE); }
    void releaseMutex() { ReleaseMutex(mutex_); }
    // The library's rename check: the path's size and creation time against the handle's.
    bool stillAtPath() {
        FILE_STANDARD_INFO standard;
        FILE_BASIC_INFO basic;
        WIN32_FILE_ATTRIBUTE_DATA atPath;
        GetFileInformationByHandleEx(file_, FileStandardInfo, &standard, sizeof standard);
        GetFileInformationByHandleEx(file_, FileBasicInfo, &basic, sizeof basic);
        return GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &atPath) &&
               atPath.nFileSizeLow == standard.EndOfFile.LowPart && !standard.DeletePending &&
               atPath.ftCreationTime.dwLowDateTime == basic.CreationTime.LowPart;
    }
    // Appends the bytes `make` builds (the stamp is taken inside the guard).
    template <typename Make>
    void appendGuarded(Make make) {
        takeWord();
        write(make());
        releaseWord();
    }

private:
    OVERLAPPED *region() {
        region_ = {};
        region_.OffsetHigh = 0x40000000;
        return &region_;
    }
    std::string path_;
    HANDLE file_;
    HANDLE mapping_;
    volatile LONG *word_;
    HANDLE mutex_;
    OVERLAPPED region_ = {};
};

// Median, min and max of rounds of `count` calls of `step`, in microseconds per call.
struct Rounds {
    std::vector<double> perCall;
    template <typename Step>
    void run(int count, Step step) {
        const double start = nowMicros();
        for (int i = 0; i < count; ++i) step();
        perCall.push_back((nowMicros() - start) / count);
    }
    Spread spread() const { return spreadOf(perCall); }
};

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
                      safeTemp = folder + "SAFE.tmp", keptLog = folder + "KeptMsg.txt",
                      oldLog = folder + "OldMsg.txt";
    std::unique_ptr<KeptFile> safeFile(new KeptFile(safeLog)), keptFile(new KeptFile(keptLog));
    KeptFile &safe = *safeFile, &kept = *keptFile;
    auto changedLines = [] {
        return stampedLine('\t', "BENCH: 1,101.25") + stampedLine('\t', "BENCH qty=\t2 preQty=\t1");
    };
    Rounds library, floor, safeFloor;
    int quantity = 0;
    for (int round = 0; round < kRounds; ++round) {
        library.run(kSignals,
                    [&] { varnex.process(day.year, day.month, day.day, "BENCH", ++quantity, 101.25); });
        floor.run(kSignals, [&] {
            writeWhole(handLog, FILE_APPEND_DATA, OPEN_ALWAYS, stampedLine('\t', "BENCH: 1,101.25"));
            writeWhole(handLog, FILE_APPEND_DATA, OPEN_ALWAYS, stampedLine('\t', "BENCH qty=\t2 preQty=\t1"));
            writeWhole(handSignal, GENERIC_WRITE, CREATE_ALWAYS, stampedLine(' ', "1 101.25"));
        });
        safeFloor.run(kSignals, [&] {
            safe.stillAtPath();
            safe.appendGuarded(changedLines);
            replaceWhole(safeSignal, safeTemp, stampedLine(' ', "1 101.25"));
        });
    }
    // The commonest call of all: a signal whose position did not change, with
    // the log on. Its two lines go out in one append, with one stamp.
    Rounds unchanged, guarded, checked, open, perLine;
    auto unchangedLines = [] {
        return stampedLine('\t', "BENCH: 1,101.25") + stampedLine('\t', "BENCH qty=\t1");
    };
    for (int round = 0; round < kRounds; ++round) {
        unchanged.run(kSignals,
                      [&] { varnex.process(day.year, day.month, day.day, "BENCH", quantity, 101.25); });
        guarded.run(kSignals, [&] { kept.appendGuarded(unchangedLines); });
        checked.run(kSignals, [&] {
            kept.stillAtPath();
            kept.appendGuarded(unchangedLines);
        });
        open.run(kSignals, [&] { kept.write(unchangedLines()); });
        perLine.run(kSignals, [&] { appendLocked(oldLog, unchangedLines()); });
    }
    // The guards alone, and the check alone.
    Rounds word, region, mutex, check;
    for (int round = 0; round < kRounds; ++round) {
        word.run(100, [&] {
            kept.takeWord();
            kept.releaseWord();
        });
        region.run(100, [&] {
            kept.lockRegion();
            kept.unlockRegion();
        });
        mutex.run(100, [&] {
            kept.takeMutex();
            kept.releaseMutex();
        });
        check.run(100, [&] { kept.stillAtPath(); });
    }
    // Closed before the files are deleted at the end.
    safeFile.reset();
    keptFile.reset();
    std::printf("process_bench: %d rounds of %d signals, log and signal file on\n", kRounds, kSignals);
    reportRow("files", "files only: `_process` per changed signal", "us", library.spread(),
              "2 appends + 1 rewrite, CreateFile/WriteFile/CloseHandle", floor.spread(), "ratio<=1.05");
    reportNote("files",
               "Floor: per signal, two log lines appended (CreateFileA OPEN_ALWAYS with FILE_APPEND_DATA, "
               "WriteFile, CloseHandle) and the signal file rewritten (CreateFileA CREATE_ALWAYS, WriteFile, "
               "CloseHandle), each line with a fresh time stamp, the same bytes as the library's. " +
                   std::to_string(kRounds) + " alternating rounds of " + std::to_string(kSignals) +
                   " signals each.");
    reportRow("files-safe", "files only, against the same multi-process-safe steps by hand", "us",
              library.spread(), "kept-open guarded append + replace, by hand", safeFloor.spread(),
              "ratio<=1.05");
    reportNote(
        "files-safe",
        "Floor: the steps that keep lines whole across processes and follow a renamed log, done by "
        "hand: the rename check (GetFileAttributesExA of the path, two GetFileInformationByHandleEx of "
        "the handle), the two lines in one WriteFile to a file kept open (FILE_READ_DATA|"
        "FILE_APPEND_DATA) under a shared-memory word taken with InterlockedCompareExchange; the "
        "signal file written to a temporary file (CreateFileA, WriteFile, CloseHandle) and moved "
        "over the target with MoveFileExA. The plain floor above lacks these steps.");
    // A correct append first makes sure the log was not renamed or deleted
    // under it, and that check alone costs more than the append: the goal is
    // against the same steps by hand, the bare append is a figure.
    reportRow("unchanged-checked", "unchanged signal, log on, against the same append with the rename check",
              "us", unchanged.spread(), "rename check + 1 guarded append, by hand", checked.spread(),
              "ratio<=1.10");
    reportRow("unchanged-guarded",
              "unchanged signal, log on, against a kept-open guarded append of its lines", "us",
              unchanged.spread(), "1 guarded append to a file kept open, by hand", guarded.spread(), "-");
    reportRow("unchanged-open", "unchanged signal, log on, against a plain write to an open file", "us",
              unchanged.spread(), "1 WriteFile to a file kept open, by hand", open.spread(), "-");
    reportRow("unchanged-per-line", "unchanged signal, log on, against an append opened and locked per line",
              "us", unchanged.spread(), "open, lock, write, unlock, close, by hand", perLine.spread(), "-");
    reportNote("unchanged-checked",
               "An unchanged position with only the log on: the library's two lines (the signal and the "
               "position) against the same two stamped lines in one WriteFile by hand: to a file kept open "
               "under the same cross-process guard (a shared-memory word taken with "
               "InterlockedCompareExchange), the same with the library's rename check before it "
               "(GetFileAttributesExA of the path, two GetFileInformationByHandleEx of the handle), "
               "unguarded (the physical floor), and through a file opened, locked (LockFileEx on a byte far "
               "beyond the data), written, unlocked and closed, as the library appended before it kept its "
               "files open (the gain).");
    reportRow("guard-word", "cross-process guard: shared-memory word, take and release (the library's)", "us",
              word.spread(), "-");
    reportRow("guard-region", "cross-process guard: byte-range lock and unlock on a kept handle", "us",
              region.spread(), "shared-memory word", word.spread(), "-");
    reportRow("guard-mutex", "cross-process guard: named mutex wait and release", "us", mutex.spread(),
              "shared-memory word", word.spread(), "-");
    reportRow("rename-check", "rename check: the path's size and creation time against the handle's", "us",
              check.spread(), "-");
    reportNote(
        "guard-word",
        "The guards an append can take so that processes writing one file neither tear its lines nor "
        "put its stamps out of order (unguarded, three Wine processes appending to one file kept open "
        "tore a quarter of their lines), each taken and released 100 times a round, uncontended: "
        "InterlockedCompareExchange on a word of a named file mapping; LockFileEx and UnlockFileEx of "
        "one byte far beyond the data; WaitForSingleObject and ReleaseMutex of a named mutex. The rename "
        "check: GetFileAttributesExA of the path and two GetFileInformationByHandleEx of the handle.");
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
              spreadOf(everything), "files only (the first row)", library.spread(), "-");
    reportNote("every-destination",
               "The library reloaded with the log, the signal and signal debug files, the pipe relay (to an "
               "order function registered in the same process) and the TCP relay (to a loopback server "
               "answering OK) all on; against the library's own files-only cost above, so the ratio is "
               "what the relays add to a changed signal.");
    for (const char *name : {"VarnexMsg.txt", "BENCH_debug.txt", "BENCH.txt", "HandMsg.txt", "HAND.txt",
                             "SafeMsg.txt", "SAFE.txt", "KeptMsg.txt", "OldMsg.txt"})
        DeleteFileA((folder + name).c_str());
    RemoveDirectoryA(folder.c_str());
    return 0;
}
