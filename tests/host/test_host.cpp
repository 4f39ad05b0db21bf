// A stand-in trading host: loads Varnex.dll by name, resolves the four exports
// by name and calls them through __stdcall pointers, as a script says.
//
// One command per line, fields separated by '|':
//   initial
//   writelog|TEXT                       (\n, \t and \\ in TEXT are decoded)
//   process|DATE|SYMBOL|QTY|PRICE       DATE: today, yesterday, month0 (today
//                                       with the month counted from 0) or Y-M-D;
//                                       PRICE: a number, inf, -inf, nan, -nan
//                                       (NaN with the sign set), -0 (zero with
//                                       the sign set) or 0x and the 16 hex digits
//                                       of its bits, passed on as they are
//   fpunmask                            unmasks the invalid-operation, zero-divide
//                                       and overflow exceptions (as Delphi does)
//   fpcheck                             prints "FPCHECK calls=N changed=M": M of the
//                                       N calls of initial, writelog, process,
//                                       register and nullcalls changed this thread's
//                                       x87 control word or flags or its MXCSR
//   race|THREADS|TEXT                   THREADS threads make their first call
//                                       (_writelog TEXT) at the same moment
//   burst|THREADS|COUNT|SYMBOL          THREADS threads each send COUNT changed
//                                       signals for SYMBOL<thread>
//   setlocale|NAME                      the C runtime's setlocale(LC_ALL, NAME);
//                                       prints how msvcrt then writes 1.5
//   echo|TEXT                           prints TEXT on standard output
//   register                            registers an order function that prints
//                                       "ORDER <text>" for every order received
//   registernull                        registers a null order function
//   waitorders|N|MS                     waits until N orders arrived (at most MS)
//   resetorders                         counts the orders arrived from 0 again
//   nullcalls                           _writelog and _process with null texts
//   unload|MS                           FreeLibrary on Varnex.dll, then MS ms of life
//   mapped                              prints "MAPPED 1" while Varnex.dll is mapped, else "MAPPED 0"
//   waitfile|PATH|MS                    waits until the file PATH exists (at most MS)
//   send|COUNT|SYMBOL                   COUNT changed signals for SYMBOL, one at a time
//   processfile|PATH|QTY|PRICE          a signal of today whose symbol is the whole
//                                       content of the file PATH (any bytes but NUL)
//   mixed|COUNT|TAG|SYMBOL|STEP|PRICE   COUNT rounds of _writelog "TAG i" and a
//                                       signal for SYMBOL (\ decoded) with
//                                       quantity i*STEP and PRICE, i from 1
//   sendtimed|COUNT|SYMBOL[|PATH]       as send, then prints "SENT max=MS" with the
//                                       longest single _process call (into the
//                                       file PATH instead, for a console nobody reads)
//   load                                LoadLibrary on Varnex.dll again, exports resolved anew
//   repeat|N[|PATH] ... end             runs the lines up to "end" N times; '#' in
//                                       them becomes the round's number (1..N); with
//                                       PATH, no more rounds once the file PATH exists
//   counts|LABEL                        prints "COUNTS LABEL handles=H threads=T
//                                       semaphores=S tls=L memory=B heap=P" for
//                                       this process: L is the lowest free TLS
//                                       index, B and P as memory|LABEL prints them
//   registerslow|MS                     registers an order function that prints the
//                                       order, then takes MS ms before returning
//   registerhang                        registers an order function that prints the
//                                       order and never returns
//   registeruntil|PATH                  registers the printing order function again
//                                       and again until the file PATH exists, then
//                                       prints "REGISTERED N", the number of calls
//   registerstorm|THREADS|COUNT         THREADS threads each register the printing
//                                       order function COUNT times
//   cpu|MS                              sleeps MS ms, then prints "CPU N ms" used by
//                                       this process meanwhile
//   spawn|COMMAND                       runs COMMAND (a whole line, with its own
//                                       fields) on a new thread and goes on at once
//   join                                waits for every spawned thread
//   timed|SYMBOL|QTY|PRICE              _process for today, then prints
//                                       "TIMED SYMBOL QTY MS at=TICK" with its
//                                       duration and GetTickCount64 at its return
//   timedsend|COUNT|SYMBOL              as send, each call printed as by timed
//   threadmix|THREADS|COUNT|SHARED[|GAP]
//                                       THREADS threads start at one moment; each
//                                       sends COUNT signals, alternately to its own
//                                       symbol OWN<t> (quantity k/2 at its k-th
//                                       own signal, price 100+t) and to SH<s>, s
//                                       cycling over SHARED symbols (quantity
//                                       t*1000000+i at signal i, price 200+s).
//                                       With GAP (ms), every signal goes to the
//                                       shared symbols (SH<i mod SHARED>), thread t
//                                       makes its signal i no sooner than
//                                       (i*THREADS+t)*GAP ms after the start, and
//                                       then prints "ENTRY SYMBOL QTY MS" for each:
//                                       when its _process call began
//   fill|BYTES                          writes BYTES bytes to the standard output
//                                       handle directly (not through the C
//                                       runtime, whose stream lock it would hold)
//   sleep|MS                            pauses this thread
//   touch|PATH                          creates the empty file PATH
//   countfiles|PREFIX                   from now on counts the files Varnex.dll
//                                       opens (CreateFileA/W) whose path starts
//                                       with PREFIX
//   files|LABEL                         prints "FILES LABEL n", the count since
//                                       countfiles or the last files line
//   memory|LABEL                        prints "MEMORY LABEL bytes=B heap=H": the
//                                       process's PagefileUsage (Wine 8 reads
//                                       PrivateUsage as 0) and the bytes of the
//                                       busy blocks of all its heaps
//   spread|FIRST|LAST|SYMBOLS|PREFIX|CHANGING[|STEP[|LABEL]]
//                                       rounds FIRST..LAST; in round r, one signal
//                                       for each of PREFIX0..PREFIX<SYMBOLS-1> in
//                                       turn, quantity r for the first CHANGING
//                                       symbols and 1 for the others, plus s*STEP
//                                       for symbol s (STEP 0 unless given), price
//                                       r+0.5; with LABEL, each round ends with a
//                                       line as memory|LABEL<r> prints; then prints
//                                       "SPREAD max=MS total=MS", the longest
//                                       single _process and their sum
// Exit code 0 when the script ran, 2 on a usage or loading error.
#include <windows.h>
// After windows.h, which they need.
#include <float.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <locale>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/import_redirect.h"
#include "varnex.h"

namespace {

std::atomic<long> ordersReceived{0};

void __stdcall printOrder(const char *text) {
    std::printf("ORDER %s\n", text);
    std::fflush(stdout);
    ++ordersReceived;
}

std::atomic<unsigned long> slowOrderMs{0};

void __stdcall printSlowOrder(const char *text) {
    printOrder(text);
    Sleep(slowOrderMs);
}

void __stdcall printOrderAndHang(const char *text) {
    printOrder(text);
    for (;;) Sleep(INFINITE);
}

unsigned long threadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    unsigned long count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}

// Wine answers GetProcessHandleCount with 0, so there the open handles are
// counted by probing the handle values, which it hands out from the bottom up.
unsigned long handleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return count;
    DWORD flags = 0;
    for (ULONG_PTR value = 4; value < 4 * 16384; value += 4)
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    return count;
}

// The open handles that are semaphores, by asking the kernel each handle's
// object type (NtQueryObject, resolved at run time from ntdll).
unsigned long semaphoreCount() {
    using QueryFn = LONG(NTAPI *)(HANDLE, int, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryFn>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject"));
    if (!query) return 0;
    constexpr int kObjectTypeInformation = 2;
    unsigned long count = 0;
    DWORD flags = 0;
    for (ULONG_PTR value = 4; value < 4 * 16384; value += 4) {
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        if (!GetHandleInformation(handle, &flags)) continue;
        // Starts with the type's name as a counted wide string.
        alignas(8) unsigned char info[1024];
        if (query(handle, kObjectTypeInformation, info, sizeof info, nullptr) != 0) continue;
        const auto length = *reinterpret_cast<const USHORT *>(info);
        const auto *name = *reinterpret_cast<const wchar_t *const *>(info + sizeof(void *));
        if (name && std::wstring(name, length / sizeof(wchar_t)) == L"Semaphore") ++count;
    }
    return count;
}

// The lowest TLS index free now: it rises when a loaded and unloaded
// library leaves its slots behind.
unsigned long lowestFreeTls() {
    const DWORD index = TlsAlloc();
    if (index != TLS_OUT_OF_INDEXES) TlsFree(index);
    return index;
}

// Resolved at run time: K32GetProcessMemoryInfo lives in kernel32 from
// Windows 7 on, so no import library is needed.
unsigned long long pagefileUsage() {
    using InfoFn = BOOL(WINAPI *)(HANDLE, PPROCESS_MEMORY_COUNTERS, DWORD);
    auto info =
        reinterpret_cast<InfoFn>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "K32GetProcessMemoryInfo"));
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!info || !info(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.PagefileUsage;
}

// The bytes the process's heaps hand out now (their busy blocks, without
// the heaps' own overhead), all heaps walked, each locked while it is: the
// C runtime's heap among them. Unlike the commit, it moves with every
// block, however much free room the heaps hold.
unsigned long long heapBytes() {
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
    unsigned long long bytes = 0;
    for (HANDLE heap : heaps) {
        if (!HeapLock(heap)) continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heap, &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) bytes += entry.cbData;
        HeapUnlock(heap);
    }
    return bytes;
}

void printMemory(const std::string &label) {
    std::printf("MEMORY %s bytes=%llu heap=%llu\n", label.c_str(), pagefileUsage(), heapBytes());
}

double cpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](FILETIME t) { return ((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0; };
    return ms(kernel) + ms(user);
}

struct Exports {
    VarnexRegisterOrderFuncFn registerOrderFunc;
    VarnexInitialFn initial;
    VarnexProcessFn process;
    VarnexWritelogFn writelog;
};

std::vector<std::string> split(const std::string &line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t bar = line.find('|', start);
        fields.push_back(line.substr(start, bar - start));
        if (bar == std::string::npos) return fields;
        start = bar + 1;
    }
}

std::string decode(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            char next = text[++i];
            out += next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

void dateOf(const std::string &when, int &year, int &month, int &day) {
    std::time_t now = std::time(nullptr);
    if (when == "yesterday") now -= 24 * 3600;
    std::tm local = *std::localtime(&now);
    year = local.tm_year + 1900;
    month = local.tm_mon + 1;
    day = local.tm_mday;
    if (when == "month0") month = local.tm_mon;
    if (when != "today" && when != "yesterday" && when != "month0")
        std::sscanf(when.c_str(), "%d-%d-%d", &year, &month, &day);
}

// Parsed with the classic locale, so a script's setlocale cannot change prices.
double priceOf(const std::string &text) {
    if (text == "inf") return std::numeric_limits<double>::infinity();
    if (text == "-inf") return -std::numeric_limits<double>::infinity();
    if (text == "nan") return std::numeric_limits<double>::quiet_NaN();
    if (text == "-nan") return -std::numeric_limits<double>::quiet_NaN();
    if (text == "-0") return -0.0;
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    double value = 0;
    in >> value;
    return value;
}

// A price as the bits of its double, so that a signalling NaN never passes
// through an x87 register (which would make it quiet, and raise).
uint64_t priceBits(const std::string &text) {
    if (text.compare(0, 2, "0x") == 0) return std::stoull(text.substr(2), nullptr, 16);
    const double value = priceOf(text);
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// _process with the price as its bits: the stack holds the same eight bytes
// as for a double (on x64 the sixth argument is on the stack whatever its type).
#if defined(_WIN64)
using RawProcessFn = void (*)(int, int, int, const char *, int, uint64_t);
#else
using RawProcessFn = void(__stdcall *)(int, int, int, const char *, int, uint32_t, uint32_t);
#endif

// The x87 control word and flags (not the scratch condition codes) and MXCSR.
uint64_t fpState() {
    uint16_t control, status;
    uint32_t sse;
    __asm__ __volatile__("fnstcw %0\n\tfnstsw %1\n\tstmxcsr %2" : "=m"(control), "=m"(status), "=m"(sse));
    return uint64_t(control) << 48 | uint64_t(status & 0xFF) << 32 | sse;
}

std::atomic<long> fpCalls{0}, fpChanged{0};

template <typename Call>
void checked(Call call) {
    const uint64_t before = fpState();
    call();
    fpChanged += fpState() != before;
    ++fpCalls;
}

template <typename Fn>
void runThreads(int count, Fn fn) {
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t) threads.emplace_back(fn, t);
    for (auto &thread : threads) thread.join();
}

// Varnex.dll's file opens, counted by pointing its import address table
// entries for CreateFileA and CreateFileW at wrappers.
std::string countedPrefix;
std::atomic<long> filesOpened{0};
decltype(&CreateFileA) realCreateFileA = nullptr;
decltype(&CreateFileW) realCreateFileW = nullptr;

HANDLE WINAPI countingCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE model) {
    if (name && std::string(name).rfind(countedPrefix, 0) == 0) ++filesOpened;
    return realCreateFileA(name, access, share, security, disposition, flags, model);
}

HANDLE WINAPI countingCreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE model) {
    // Long paths come as \\?\ + the absolute path: compared without the prefix.
    std::wstring wide = name ? name : L"";
    if (wide.rfind(L"\\\\?\\", 0) == 0) wide = wide.substr(4);
    if (std::string(wide.begin(), wide.end()).rfind(countedPrefix, 0) == 0) ++filesOpened;
    return realCreateFileW(name, access, share, security, disposition, flags, model);
}

HMODULE varnexModule = nullptr;
Exports dll;

std::mutex spawnedMutex;
std::vector<std::thread> spawned;

bool loadVarnex() {
    varnexModule = LoadLibraryA("Varnex.dll");
    if (!varnexModule) {
        std::fprintf(stderr, "test_host: cannot load Varnex.dll (%lu)\n", GetLastError());
        return false;
    }
    dll.registerOrderFunc =
        reinterpret_cast<VarnexRegisterOrderFuncFn>(GetProcAddress(varnexModule, "_RegisterOrderFunc"));
    dll.initial = reinterpret_cast<VarnexInitialFn>(GetProcAddress(varnexModule, "_initial"));
    dll.process = reinterpret_cast<VarnexProcessFn>(GetProcAddress(varnexModule, "_process"));
    dll.writelog = reinterpret_cast<VarnexWritelogFn>(GetProcAddress(varnexModule, "_writelog"));
    if (!dll.registerOrderFunc || !dll.initial || !dll.process || !dll.writelog) {
        std::fprintf(stderr, "test_host: an export is missing\n");
        return false;
    }
    return true;
}

std::string numbered(const std::string &line, int round) {
    std::string out;
    for (char c : line) out += c == '#' ? std::to_string(round) : std::string(1, c);
    return out;
}

using Fields = std::vector<std::string>;

int runLine(const std::string &line);

// One function per verb, each given the line's fields (the verb first) once
// their number is one the verb takes; what it returns is the script's exit
// code, 0 to go on.

int callInitial(const Fields &) {
    checked([] { dll.initial(); });
    return 0;
}

int callWritelog(const Fields &f) {
    const std::string text = decode(f[1]);
    checked([&] { dll.writelog(text.c_str()); });
    return 0;
}

int callProcess(const Fields &f) {
    int year, month, day;
    dateOf(f[1], year, month, day);
    const std::string symbol = decode(f[2]);
    const int quantity = std::stoi(f[3]);
    const uint64_t bits = priceBits(f[4]);
    const auto process = reinterpret_cast<RawProcessFn>(dll.process);
#if defined(_WIN64)
    checked([&] { process(year, month, day, symbol.c_str(), quantity, bits); });
#else
    checked([&] {
        process(year, month, day, symbol.c_str(), quantity, static_cast<uint32_t>(bits),
                static_cast<uint32_t>(bits >> 32));
    });
#endif
    return 0;
}

int unmaskFp(const Fields &) {
    _clearfp();
    _controlfp(_EM_DENORMAL | _EM_UNDERFLOW | _EM_INEXACT, _MCW_EM);
    return 0;
}

int printFpCheck(const Fields &) {
    std::printf("FPCHECK calls=%ld changed=%ld\n", fpCalls.load(), fpChanged.load());
    std::fflush(stdout);
    return 0;
}

int raceFirstCalls(const Fields &f) {
    const std::string text = decode(f[2]);
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < std::stoi(f[1]); ++t)
        threads.emplace_back([&] {
            WaitForSingleObject(go, INFINITE);
            dll.writelog(text.c_str());
        });
    Sleep(50);
    SetEvent(go);
    for (auto &thread : threads) thread.join();
    CloseHandle(go);
    return 0;
}

int burstSignals(const Fields &f) {
    const int perThread = std::stoi(f[2]);
    const std::string prefix = f[3];
    int year, month, day;
    dateOf("today", year, month, day);
    runThreads(std::stoi(f[1]), [&](int t) {
        const std::string symbol = prefix + std::to_string(t);
        for (int i = 1; i <= perThread; ++i) dll.process(year, month, day, symbol.c_str(), i, 0.5 * i);
    });
    return 0;
}

// Reports what the runtime now prints for 1.5, so a test can tell that the
// locale really took effect.
int setLocale(const Fields &f) {
    const char *name = std::setlocale(LC_ALL, f[1].c_str());
    using SnprintfFn = int(__cdecl *)(char *, size_t, const char *, ...);
    auto msvcrtSnprintf =
        reinterpret_cast<SnprintfFn>(GetProcAddress(GetModuleHandleA("msvcrt.dll"), "_snprintf"));
    char sample[32] = {};
    msvcrtSnprintf(sample, sizeof sample - 1, "%g", 1.5);
    std::printf("locale %s prints %s\n", name ? name : "(refused)", sample);
    std::fflush(stdout);
    return 0;
}

int registerPrinter(const Fields &) {
    checked([] { dll.registerOrderFunc(printOrder); });
    return 0;
}

int registerNull(const Fields &) {
    dll.registerOrderFunc(nullptr);
    return 0;
}

int waitOrders(const Fields &f) {
    const ULONGLONG deadline = GetTickCount64() + std::stoul(f[2]);
    while (ordersReceived < std::stol(f[1]) && GetTickCount64() < deadline) Sleep(5);
    return 0;
}

int callWithNullTexts(const Fields &) {
    int year, month, day;
    dateOf("today", year, month, day);
    checked([] { dll.writelog(nullptr); });
    checked([&] { dll.process(year, month, day, nullptr, 1, 2.0); });
    return 0;
}

int unloadVarnex(const Fields &f) {
    FreeLibrary(varnexModule);
    Sleep(std::stoul(f[1]));
    return 0;
}

int printMapped(const Fields &) {
    std::printf("MAPPED %d\n", GetModuleHandleA("Varnex.dll") ? 1 : 0);
    std::fflush(stdout);
    return 0;
}

int waitFile(const Fields &f) {
    const ULONGLONG deadline = GetTickCount64() + std::stoul(f[2]);
    while (GetFileAttributesA(f[1].c_str()) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < deadline)
        Sleep(5);
    return 0;
}

int sendSignals(const Fields &f) {
    int year, month, day;
    dateOf("today", year, month, day);
    for (int i = 1; i <= std::stoi(f[1]); ++i) dll.process(year, month, day, f[2].c_str(), i, i + 0.25);
    return 0;
}

int processFileSymbol(const Fields &f) {
    std::ifstream in(f[1], std::ios::binary);
    std::ostringstream symbol;
    symbol << in.rdbuf();
    int year, month, day;
    dateOf("today", year, month, day);
    dll.process(year, month, day, symbol.str().c_str(), std::stoi(f[2]), priceOf(f[3]));
    return 0;
}

int mixLogsAndSignals(const Fields &f) {
    int year, month, day;
    dateOf("today", year, month, day);
    const std::string symbol = decode(f[3]);
    const int step = std::stoi(f[4]);
    const double price = priceOf(f[5]);
    for (int i = 1; i <= std::stoi(f[1]); ++i) {
        dll.writelog((f[2] + " " + std::to_string(i)).c_str());
        dll.process(year, month, day, symbol.c_str(), i * step, price);
    }
    return 0;
}

int sendTimed(const Fields &f) {
    int year, month, day;
    dateOf("today", year, month, day);
    ULONGLONG longest = 0;
    for (int i = 1; i <= std::stoi(f[1]); ++i) {
        const ULONGLONG start = GetTickCount64();
        dll.process(year, month, day, f[2].c_str(), i, i + 0.25);
        const ULONGLONG took = GetTickCount64() - start;
        if (took > longest) longest = took;
    }
    std::FILE *out = f.size() == 4 ? std::fopen(f[3].c_str(), "wb") : stdout;
    if (out) std::fprintf(out, "SENT max=%llu\n", longest);
    if (out && out != stdout) std::fclose(out);
    std::fflush(stdout);
    return 0;
}

int resetOrders(const Fields &) {
    ordersReceived = 0;
    return 0;
}

int reloadVarnex(const Fields &) { return loadVarnex() ? 0 : 2; }

int printCounts(const Fields &f) {
    std::printf("COUNTS %s handles=%lu threads=%lu semaphores=%lu tls=%lu memory=%llu heap=%llu\n",
                f[1].c_str(), handleCount(), threadCount(), semaphoreCount(), lowestFreeTls(),
                pagefileUsage(), heapBytes());
    std::fflush(stdout);
    return 0;
}

int registerSlow(const Fields &f) {
    slowOrderMs = std::stoul(f[1]);
    dll.registerOrderFunc(printSlowOrder);
    return 0;
}

int registerHang(const Fields &) {
    dll.registerOrderFunc(printOrderAndHang);
    return 0;
}

int registerUntil(const Fields &f) {
    long tries = 0;
    for (; GetFileAttributesA(f[1].c_str()) == INVALID_FILE_ATTRIBUTES; ++tries) {
        dll.registerOrderFunc(printOrder);
        Sleep(10);
    }
    std::printf("REGISTERED %ld\n", tries);
    std::fflush(stdout);
    return 0;
}

int registerStorm(const Fields &f) {
    const int perThread = std::stoi(f[2]);
    runThreads(std::stoi(f[1]), [&](int) {
        for (int i = 0; i < perThread; ++i) dll.registerOrderFunc(printOrder);
    });
    return 0;
}

int printCpu(const Fields &f) {
    const double before = cpuMs();
    Sleep(std::stoul(f[1]));
    std::printf("CPU %.1f ms\n", cpuMs() - before);
    std::fflush(stdout);
    return 0;
}

int echoText(const Fields &f) {
    std::printf("%s\n", f[1].c_str());
    std::fflush(stdout);
    return 0;
}

// The spawned line is the rest of this one as it was written: the fields
// joined again by the bars they were split at.
int spawnLine(const Fields &f) {
    std::string rest = f[1];
    for (size_t i = 2; i < f.size(); ++i) rest += "|" + f[i];
    std::lock_guard<std::mutex> lock(spawnedMutex);
    spawned.emplace_back([rest] { runLine(rest); });
    return 0;
}

int joinSpawned(const Fields &) {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(spawnedMutex);
        threads.swap(spawned);
    }
    for (auto &thread : threads) thread.join();
    return 0;
}

int timedProcess(const Fields &f) {
    int year, month, day;
    dateOf("today", year, month, day);
    const ULONGLONG start = GetTickCount64();
    dll.process(year, month, day, f[1].c_str(), std::stoi(f[2]), priceOf(f[3]));
    const ULONGLONG end = GetTickCount64();
    std::printf("TIMED %s %s %llu at=%llu\n", f[1].c_str(), f[2].c_str(), end - start, end);
    std::fflush(stdout);
    return 0;
}

int timedSend(const Fields &f) {
    for (int i = 1; i <= std::stoi(f[1]); ++i)
        runLine("timed|" + f[2] + "|" + std::to_string(i) + "|" + std::to_string(i) + ".25");
    return 0;
}

int threadMix(const Fields &f) {
    const int threadCount = std::stoi(f[1]), count = std::stoi(f[2]), shared = std::stoi(f[3]);
    const ULONGLONG gap = f.size() == 5 ? std::stoull(f[4]) : 0;
    int year, month, day;
    dateOf("today", year, month, day);
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ULONGLONG start = 0;
    std::vector<std::vector<std::string>> entries(threadCount);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t)
        threads.emplace_back([&, t] {
            WaitForSingleObject(go, INFINITE);
            const std::string own = "OWN" + std::to_string(t);
            for (int i = 0; i < count; ++i) {
                const ULONGLONG due = start + (static_cast<ULONGLONG>(i) * threadCount + t) * gap;
                while (GetTickCount64() < due) Sleep(1);
                if (gap == 0 && i % 2 == 0) {
                    dll.process(year, month, day, own.c_str(), (i / 2) / 2, 100 + t);
                } else {
                    const int s = gap == 0 ? (i / 2) % shared : i % shared;
                    const std::string symbol = "SH" + std::to_string(s);
                    const ULONGLONG entered = GetTickCount64();
                    dll.process(year, month, day, symbol.c_str(), t * 1000000 + i, 200 + s);
                    if (gap)
                        entries[t].push_back("ENTRY " + symbol + " " + std::to_string(t * 1000000 + i) + " " +
                                             std::to_string(entered - start));
                }
            }
        });
    Sleep(50);
    start = GetTickCount64();
    SetEvent(go);
    for (auto &thread : threads) thread.join();
    CloseHandle(go);
    for (const auto &lines : entries)
        for (const std::string &entry : lines) std::printf("%s\n", entry.c_str());
    std::fflush(stdout);
    return 0;
}

int fillStdout(const Fields &f) {
    const std::string chunk(999, 'f');
    const std::string chunkLine = chunk + "\n";
    DWORD written = 0;
    for (unsigned long sent = 0; sent < std::stoul(f[1]); sent += 1000)
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), chunkLine.data(), 1000, &written, nullptr);
    return 0;
}

int sleepFor(const Fields &f) {
    Sleep(std::stoul(f[1]));
    return 0;
}

int printMemoryLine(const Fields &f) {
    printMemory(f[1]);
    std::fflush(stdout);
    return 0;
}

int spreadSignals(const Fields &f) {
    const int symbols = std::stoi(f[3]), changing = std::stoi(f[5]);
    const int step = f.size() >= 7 ? std::stoi(f[6]) : 0;
    std::vector<std::string> names;
    for (int s = 0; s < symbols; ++s) names.push_back(f[4] + std::to_string(s));
    int year, month, day;
    dateOf("today", year, month, day);
    ULONGLONG longest = 0, total = 0;
    for (int r = std::stoi(f[1]); r <= std::stoi(f[2]); ++r) {
        for (int s = 0; s < symbols; ++s) {
            const ULONGLONG start = GetTickCount64();
            dll.process(year, month, day, names[s].c_str(), s * step + (s < changing ? r : 1), r + 0.5);
            longest = std::max(longest, GetTickCount64() - start);
            total += GetTickCount64() - start;
        }
        if (f.size() == 8) printMemory(f[7] + std::to_string(r));
    }
    std::printf("SPREAD max=%llu total=%llu\n", longest, total);
    std::fflush(stdout);
    return 0;
}

int countFiles(const Fields &f) {
    countedPrefix = f[1];
    varnex_test::redirectImport(varnexModule, "CreateFileA", reinterpret_cast<void *>(&countingCreateFileA),
                                reinterpret_cast<void **>(&realCreateFileA));
    varnex_test::redirectImport(varnexModule, "CreateFileW", reinterpret_cast<void *>(&countingCreateFileW),
                                reinterpret_cast<void **>(&realCreateFileW));
    return 0;
}

int printFiles(const Fields &f) {
    std::printf("FILES %s %ld\n", f[1].c_str(), filesOpened.exchange(0));
    std::fflush(stdout);
    return 0;
}

int touchFile(const Fields &f) {
    CloseHandle(CreateFileA(f[1].c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    return 0;
}

// The number of fields a verb takes counts the verb itself; a line with
// another number is refused as an unknown verb is. repeat and end are not
// here: they span lines, so runLines reads them.
struct Verb {
    const char *name;
    size_t minFields, maxFields;
    int (*run)(const Fields &);
};

constexpr size_t kAnyFields = SIZE_MAX;

const Verb kVerbs[] = {
    {"initial", 1, kAnyFields, callInitial},
    {"writelog", 2, 2, callWritelog},
    {"process", 5, 5, callProcess},
    {"fpunmask", 1, kAnyFields, unmaskFp},
    {"fpcheck", 1, kAnyFields, printFpCheck},
    {"race", 3, 3, raceFirstCalls},
    {"burst", 4, 4, burstSignals},
    {"setlocale", 2, 2, setLocale},
    {"register", 1, kAnyFields, registerPrinter},
    {"registernull", 1, kAnyFields, registerNull},
    {"waitorders", 3, 3, waitOrders},
    {"nullcalls", 1, kAnyFields, callWithNullTexts},
    {"unload", 2, 2, unloadVarnex},
    {"mapped", 1, kAnyFields, printMapped},
    {"waitfile", 3, 3, waitFile},
    {"send", 3, 3, sendSignals},
    {"processfile", 4, 4, processFileSymbol},
    {"mixed", 6, 6, mixLogsAndSignals},
    {"sendtimed", 3, 4, sendTimed},
    {"resetorders", 1, kAnyFields, resetOrders},
    {"load", 1, kAnyFields, reloadVarnex},
    {"counts", 2, 2, printCounts},
    {"registerslow", 2, 2, registerSlow},
    {"registerhang", 1, kAnyFields, registerHang},
    {"registeruntil", 2, 2, registerUntil},
    {"registerstorm", 3, 3, registerStorm},
    {"cpu", 2, 2, printCpu},
    {"echo", 2, 2, echoText},
    {"spawn", 2, kAnyFields, spawnLine},
    {"join", 1, kAnyFields, joinSpawned},
    {"timed", 4, 4, timedProcess},
    {"timedsend", 3, 3, timedSend},
    {"threadmix", 4, 5, threadMix},
    {"fill", 2, 2, fillStdout},
    {"sleep", 2, 2, sleepFor},
    {"memory", 2, 2, printMemoryLine},
    {"spread", 6, 8, spreadSignals},
    {"countfiles", 2, 2, countFiles},
    {"files", 2, 2, printFiles},
    {"touch", 2, 2, touchFile},
};

int runLines(const std::vector<std::string> &lines) {
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::vector<std::string> f = split(lines[i]);
        if (f[0] == "repeat" && (f.size() == 2 || f.size() == 3)) {
            std::vector<std::string> body;
            while (++i < lines.size() && lines[i] != "end") body.push_back(lines[i]);
            for (int round = 1; round <= std::stoi(f[1]); ++round) {
                if (f.size() == 3 && GetFileAttributesA(f[2].c_str()) != INVALID_FILE_ATTRIBUTES) break;
                for (const std::string &inner : body)
                    if (int code = runLine(numbered(inner, round))) return code;
            }
        } else if (int code = runLine(lines[i])) {
            return code;
        }
    }
    return 0;
}

int runLine(const std::string &line) {
    const Fields f = split(line);
    for (const Verb &verb : kVerbs)
        if (f[0] == verb.name && f.size() >= verb.minFields && f.size() <= verb.maxFields) return verb.run(f);
    std::fprintf(stderr, "test_host: bad command: %s\n", line.c_str());
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: test_host SCRIPT\n");
        return 2;
    }
    std::ifstream script(argv[1]);
    if (!script) {
        std::fprintf(stderr, "test_host: cannot read %s\n", argv[1]);
        return 2;
    }
    if (!loadVarnex()) return 2;
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(script, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    const int code = runLines(lines);
    // Threads still spawned at the end are joined, so the script's work is done before the exit.
    if (code == 0) runLine("join");
    return code;
}
