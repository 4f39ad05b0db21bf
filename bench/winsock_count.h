// Counts the calls that one module (Varnex.dll) makes into WS2_32, without
// touching it: the module's import address table entries for WS2_32 are
// pointed at counting wrappers that forward to the real functions, and put
// back afterwards. Calls made by anything else (this benchmark's own server,
// Winsock's internals) are not counted.
#ifndef VARNEX_BENCH_WINSOCK_COUNT_H
#define VARNEX_BENCH_WINSOCK_COUNT_H

#include <winsock2.h>
#include <ws2tcpip.h>
// windows.h after winsock2.h, which it would otherwise pull in the old winsock.h for.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace wscount {

using Slot = decltype(IMAGE_THUNK_DATA{}.u1.Function);

struct Hook {
    const char *name;
    void **real;
    void *wrapper;
    volatile LONG *calls;
    volatile LONGLONG *ticks;
};

// Adds the time from its making to its end to `sum`: wrapped around a
// forwarded call, the time spent inside the real function.
class CallTimer {
public:
    explicit CallTimer(volatile LONGLONG *sum) : sum_(sum) { QueryPerformanceCounter(&start_); }
    ~CallTimer() {
        LARGE_INTEGER end;
        QueryPerformanceCounter(&end);
        InterlockedExchangeAdd64(sum_, end.QuadPart - start_.QuadPart);
    }

private:
    volatile LONGLONG *sum_;
    LARGE_INTEGER start_;
};

#define WSCOUNT_WRAP(ret, name, params, args)         \
    inline ret(WSAAPI *real_##name) params = nullptr; \
    inline volatile LONG calls_##name = 0;            \
    inline volatile LONGLONG ticks_##name = 0;        \
    inline ret WSAAPI count_##name params {           \
        InterlockedIncrement(&calls_##name);          \
        CallTimer timer(&ticks_##name);               \
        return real_##name args;                      \
    }

WSCOUNT_WRAP(int, WSAStartup, (WORD v, LPWSADATA d), (v, d))
WSCOUNT_WRAP(int, WSACleanup, (void), ())
WSCOUNT_WRAP(int, WSAGetLastError, (void), ())
WSCOUNT_WRAP(void, WSASetLastError, (int e), (e))
WSCOUNT_WRAP(int, __WSAFDIsSet, (SOCKET s, fd_set *f), (s, f))
WSCOUNT_WRAP(SOCKET, accept, (SOCKET s, sockaddr *a, int *l), (s, a, l))
WSCOUNT_WRAP(int, bind, (SOCKET s, const sockaddr *a, int l), (s, a, l))
WSCOUNT_WRAP(int, closesocket, (SOCKET s), (s))
WSCOUNT_WRAP(int, connect, (SOCKET s, const sockaddr *a, int l), (s, a, l))
WSCOUNT_WRAP(hostent *, gethostbyname, (const char *n), (n))
WSCOUNT_WRAP(int, getsockname, (SOCKET s, sockaddr *a, int *l), (s, a, l))
WSCOUNT_WRAP(int, getpeername, (SOCKET s, sockaddr *a, int *l), (s, a, l))
WSCOUNT_WRAP(int, getsockopt, (SOCKET s, int lv, int o, char *v, int *l), (s, lv, o, v, l))
WSCOUNT_WRAP(int, setsockopt, (SOCKET s, int lv, int o, const char *v, int l), (s, lv, o, v, l))
WSCOUNT_WRAP(u_short, htons, (u_short v), (v))
WSCOUNT_WRAP(u_short, ntohs, (u_short v), (v))
WSCOUNT_WRAP(u_long, htonl, (u_long v), (v))
WSCOUNT_WRAP(u_long, ntohl, (u_long v), (v))
WSCOUNT_WRAP(unsigned long, inet_addr, (const char *t), (t))
WSCOUNT_WRAP(char *, inet_ntoa, (in_addr a), (a))
WSCOUNT_WRAP(int, ioctlsocket, (SOCKET s, long c, u_long *a), (s, c, a))
WSCOUNT_WRAP(int, listen, (SOCKET s, int b), (s, b))
WSCOUNT_WRAP(int, recv, (SOCKET s, char *b, int l, int f), (s, b, l, f))
WSCOUNT_WRAP(int, send, (SOCKET s, const char *b, int l, int f), (s, b, l, f))
WSCOUNT_WRAP(int, select, (int n, fd_set *r, fd_set *w, fd_set *e, const timeval *t), (n, r, w, e, t))
WSCOUNT_WRAP(int, shutdown, (SOCKET s, int h), (s, h))
WSCOUNT_WRAP(SOCKET, socket, (int af, int type, int protocol), (af, type, protocol))
WSCOUNT_WRAP(int, getaddrinfo, (const char *n, const char *s, const addrinfo *h, addrinfo **r), (n, s, h, r))
WSCOUNT_WRAP(void, freeaddrinfo, (addrinfo * a), (a))
WSCOUNT_WRAP(int, WSAPoll, (WSAPOLLFD * f, ULONG n, INT t), (f, n, t))
WSCOUNT_WRAP(int, WSAEventSelect, (SOCKET s, WSAEVENT e, long m), (s, e, m))
WSCOUNT_WRAP(WSAEVENT, WSACreateEvent, (void), ())
WSCOUNT_WRAP(BOOL, WSACloseEvent, (WSAEVENT e), (e))
WSCOUNT_WRAP(DWORD, WSAWaitForMultipleEvents, (DWORD n, const WSAEVENT *e, BOOL a, DWORD t, BOOL al),
             (n, e, a, t, al))
WSCOUNT_WRAP(int, WSAEnumNetworkEvents, (SOCKET s, WSAEVENT e, LPWSANETWORKEVENTS n), (s, e, n))
#undef WSCOUNT_WRAP

#define WSCOUNT_HOOK(name)                                                                           \
    {                                                                                                \
#name, reinterpret_cast < void **>(&real_##name), reinterpret_cast < void *>(&count_##name), \
            &calls_##name, &ticks_##name                                                             \
    }
inline Hook hooks[] = {
    WSCOUNT_HOOK(WSAStartup),
    WSCOUNT_HOOK(WSACleanup),
    WSCOUNT_HOOK(WSAGetLastError),
    WSCOUNT_HOOK(WSASetLastError),
    WSCOUNT_HOOK(__WSAFDIsSet),
    WSCOUNT_HOOK(accept),
    WSCOUNT_HOOK(bind),
    WSCOUNT_HOOK(closesocket),
    WSCOUNT_HOOK(connect),
    WSCOUNT_HOOK(gethostbyname),
    WSCOUNT_HOOK(getsockname),
    WSCOUNT_HOOK(getpeername),
    WSCOUNT_HOOK(getsockopt),
    WSCOUNT_HOOK(setsockopt),
    WSCOUNT_HOOK(htons),
    WSCOUNT_HOOK(ntohs),
    WSCOUNT_HOOK(htonl),
    WSCOUNT_HOOK(ntohl),
    WSCOUNT_HOOK(inet_addr),
    WSCOUNT_HOOK(inet_ntoa),
    WSCOUNT_HOOK(ioctlsocket),
    WSCOUNT_HOOK(listen),
    WSCOUNT_HOOK(recv),
    WSCOUNT_HOOK(send),
    WSCOUNT_HOOK(select),
    WSCOUNT_HOOK(shutdown),
    WSCOUNT_HOOK(socket),
    WSCOUNT_HOOK(getaddrinfo),
    WSCOUNT_HOOK(freeaddrinfo),
    WSCOUNT_HOOK(WSAPoll),
    WSCOUNT_HOOK(WSAEventSelect),
    WSCOUNT_HOOK(WSACreateEvent),
    WSCOUNT_HOOK(WSACloseEvent),
    WSCOUNT_HOOK(WSAWaitForMultipleEvents),
    WSCOUNT_HOOK(WSAEnumNetworkEvents),
};
#undef WSCOUNT_HOOK

// Replaces the module's WS2_32 import slots; imports without a wrapper here
// are left alone and named in `uncounted` so the report can say so.
class ImportCounter {
public:
    explicit ImportCounter(HMODULE module) {
        auto *base = reinterpret_cast<BYTE *>(module);
        auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
        auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        if (!dir.VirtualAddress) return;
        for (auto *imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress); imp->Name;
             ++imp) {
            if (_stricmp(reinterpret_cast<char *>(base + imp->Name), "WS2_32.dll") != 0) continue;
            found = true;
            auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(
                base + (imp->OriginalFirstThunk ? imp->OriginalFirstThunk : imp->FirstThunk));
            auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + imp->FirstThunk);
            for (; names->u1.AddressOfData; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                    uncounted.push_back("#" + std::to_string(IMAGE_ORDINAL(names->u1.Ordinal)));
                    continue;
                }
                const char *name = reinterpret_cast<char *>(
                    reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData)->Name);
                Hook *hook = nullptr;
                for (Hook &h : hooks)
                    if (std::strcmp(h.name, name) == 0) hook = &h;
                if (!hook) {
                    uncounted.push_back(name);
                    continue;
                }
                *hook->real = reinterpret_cast<void *>(slots->u1.Function);
                patch(&slots->u1.Function, reinterpret_cast<Slot>(hook->wrapper));
            }
        }
    }
    ~ImportCounter() {
        for (auto &p : patched_) patch(p.first, p.second, false);
    }
    ImportCounter(const ImportCounter &) = delete;
    ImportCounter &operator=(const ImportCounter &) = delete;

    static void reset() {
        for (Hook &h : hooks) InterlockedExchange(h.calls, 0), InterlockedExchange64(h.ticks, 0);
    }
    static long total() {
        long sum = 0;
        for (Hook &h : hooks) sum += *h.calls;
        return sum;
    }
    // "name N (T us), ..." for every function called at least once: calls and
    // microseconds inside it, each divided by `per`.
    static std::string breakdown(double per) {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        std::string out;
        char buffer[96];
        for (Hook &h : hooks) {
            if (!*h.calls) continue;
            std::snprintf(buffer, sizeof buffer, "%s%s %.3g (%.1f us)", out.empty() ? "" : ", ", h.name,
                          *h.calls / per, *h.ticks * 1e6 / frequency.QuadPart / per);
            out += buffer;
        }
        return out;
    }

    bool found = false;
    std::vector<std::string> uncounted;

private:
    void patch(Slot *slot, Slot value, bool remember = true) {
        DWORD old;
        VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
        if (remember) patched_.push_back({slot, *slot});
        *slot = value;
        VirtualProtect(slot, sizeof *slot, old, &old);
    }
    std::vector<std::pair<Slot *, Slot>> patched_;
};

}  // namespace wscount

#endif
