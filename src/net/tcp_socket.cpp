#include "net/tcp_socket.h"

#include <windows.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <new>

#include "common/handles.h"
#include "common/locks.h"
#include "net/socket_errors.h"

namespace varnex {

namespace {

// Guarded: relays of different symbols run at once on host threads, look-ups
// on threads of their own, and WSAStartup/WSACleanup must pair up exactly.
SRWLOCK startupLock = SRWLOCK_INIT;
int32_t startupCount = 0;

sockaddr_in ipv4Address(int32_t port, const void *address) {
    sockaddr_in result = {};
    result.sin_family = AF_INET;
    result.sin_port = htons(static_cast<u_short>(port));  // only the low 16 bits count
    if (address) std::memcpy(&result.sin_addr, address, 4);
    return result;
}

void setNonBlocking(SOCKET handle, bool on) {
    u_long value = on ? 1 : 0;
    ioctlsocket(handle, FIONBIO, &value);
}

timeval timeLimit(uint32_t limitMs) {
    return {static_cast<long>(limitMs / 1000), static_cast<long>((limitMs % 1000) * 1000)};
}

// A non-blocking connect completed with select, so that an unreachable host
// costs at most `limitMs` instead of the system's own retry time. Returns
// the failure text, empty when connected.
std::string connectWithin(SOCKET handle, const sockaddr_in &address, int32_t limitMs, SocketMode mode) {
    setNonBlocking(handle, true);
    if (connect(handle, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        const int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK) return connectFailedText(error);
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(handle, &writable);
        FD_SET(handle, &failed);
        timeval limit = timeLimit(static_cast<uint32_t>(limitMs));
        const int ready = select(0, nullptr, &writable, &failed, &limit);
        if (ready == SOCKET_ERROR) return connectFailedText(WSAGetLastError());
        if (ready == 0) return timedOutText(NetStep::Connect, limitMs);
        // Winsock reports a failed attempt in the exception set; writable means connected.
        if (FD_ISSET(handle, &failed)) {
            int status = 0;
            int length = sizeof status;
            getsockopt(handle, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&status), &length);
            return connectFailedText(status != 0 ? status : WSAECONNREFUSED);
        }
    }
    if (mode == SocketMode::Blocking) setNonBlocking(handle, false);
    return std::string();
}

// A name look-up that may take the resolver's own time (about 10 s when it
// does not answer) runs on a thread of its own, and the caller waits for it
// at most its limit. A look-up the caller gave up on ends by itself; it owns
// its task and a reference to this module, so nothing it touches goes away
// under it. Callers asking for a name whose look-up is still running wait
// for that one, so a silent resolver costs one thread per name, not per call.
struct LookupTask {
    std::string host;
    UniqueHandle done;
    HMODULE module = nullptr;
    bool found = false;
    unsigned char address[4] = {};
    int error = 0;
};

SRWLOCK lookupsLock = SRWLOCK_INIT;
std::map<std::string, std::shared_ptr<LookupTask>> &runningLookups() {
    static std::map<std::string, std::shared_ptr<LookupTask>> lookups;
    return lookups;
}

// Everything with a destructor lives and ends in here, before the thread
// gives up its module reference.
HMODULE runLookup(void *parameter) noexcept {
    std::unique_ptr<std::shared_ptr<LookupTask>> holder(
        static_cast<std::shared_ptr<LookupTask> *>(parameter));
    LookupTask &task = **holder;
    const HMODULE module = task.module;
    // gethostbyname's result lives in this thread's storage: copy it here.
    const hostent *entry = gethostbyname(task.host.c_str());
    if (entry && entry->h_length == 4 && entry->h_addr_list && entry->h_addr_list[0]) {
        std::memcpy(task.address, entry->h_addr_list[0], 4);
        task.found = true;
    } else {
        task.error = WSAGetLastError();
    }
    SetEvent(task.done.get());
    {
        ExclusiveLock guard(lookupsLock);
        auto &lookups = runningLookups();
        const auto running = lookups.find(task.host);
        if (running != lookups.end() && running->second.get() == &task) lookups.erase(running);
    }
    holder.reset();
    releaseSockets();  // the unit its starter took for it
    return module;
}

DWORD WINAPI lookupMain(LPVOID parameter) { FreeLibraryAndExitThread(runLookup(parameter), 0); }

// Starts a look-up thread for `host`; false when no thread could be had.
bool startLookup(const std::shared_ptr<LookupTask> &task) {
    task->done.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!task->done) return false;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&lookupMain),
                            &task->module))
        return false;
    auto *parameter = new (std::nothrow) std::shared_ptr<LookupTask>(task);
    // The caller's socket holds a unit, so acquiring one here only counts.
    if (parameter && acquireSockets()) {
        const HANDLE thread = CreateThread(nullptr, 0, lookupMain, parameter, 0, nullptr);
        if (holdsHandle(thread)) {
            CloseHandle(thread);
            return true;
        }
        releaseSockets();
    }
    delete parameter;
    FreeLibrary(task->module);
    return false;
}

// Fills `address`; returns the failure text, empty when the name was found.
std::string resolveWithin(const std::string &host, int32_t port, int32_t limitMs, sockaddr_in &address) {
    std::shared_ptr<LookupTask> task;
    {
        ExclusiveLock guard(lookupsLock);
        std::shared_ptr<LookupTask> &running = runningLookups()[host];
        if (!running) {
            auto fresh = std::make_shared<LookupTask>();
            fresh->host = host;
            if (!startLookup(fresh)) {
                const int error = static_cast<int>(GetLastError());
                runningLookups().erase(host);
                return lookupFailedText(host, error);
            }
            running = fresh;
        }
        task = running;
    }
    if (WaitForSingleObject(task->done.get(), static_cast<DWORD>(limitMs)) != WAIT_OBJECT_0)
        return timedOutText(NetStep::Lookup, limitMs, host);
    if (!task->found) return lookupFailedText(host, task->error);
    address = ipv4Address(port, task->address);
    return std::string();
}

}  // namespace

bool acquireSockets() noexcept {
    ExclusiveLock guard(startupLock);
    if (startupCount == 0) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 0), &data) != 0) return false;
    }
    ++startupCount;
    return true;
}

void releaseSockets() noexcept {
    ExclusiveLock guard(startupLock);
    if (--startupCount == 0) WSACleanup();
}

int32_t socketUsers() noexcept {
    ExclusiveLock guard(startupLock);
    return startupCount;
}

bool SocketsStarted::acquire() noexcept {
    if (!held) held = acquireSockets();
    return held;
}

SocketsStarted::~SocketsStarted() {
    if (held) releaseSockets();
}

struct TcpSocket::Shared {
    SOCKET handle;
    int32_t count;
};

TcpSocket::TcpSocket() noexcept : shared(nullptr) {
    if (!acquireSockets()) {
        failure_ = kStartFailedText;
        return;
    }
    const SOCKET handle = socket(AF_INET, SOCK_STREAM, 0);
    if (handle == INVALID_SOCKET) {
        releaseSockets();
        failure_ = kNoSocketText;
        return;
    }
    shared = new (std::nothrow) Shared{handle, 1};
    if (!shared) {
        closesocket(handle);
        releaseSockets();
        failure_ = kUnhandledText;
    }
}

TcpSocket::TcpSocket(SOCKET handle) noexcept : shared(nullptr) {
    if (!acquireSockets()) {
        failure_ = kStartFailedText;
        return;
    }
    shared = new (std::nothrow) Shared{handle, 1};
    if (!shared) {
        releaseSockets();
        failure_ = kUnhandledText;
    }
}

TcpSocket::TcpSocket(const TcpSocket &other) noexcept : shared(nullptr) { share(other); }

TcpSocket &TcpSocket::operator=(const TcpSocket &other) noexcept {
    if (this != &other && (shared != other.shared || !shared)) {
        giveUp();
        share(other);
    }
    return *this;
}

TcpSocket::~TcpSocket() { giveUp(); }

void TcpSocket::share(const TcpSocket &other) noexcept {
    failure_ = other.failure_;
    shared = other.shared;
    if (!shared) return;
    ++shared->count;
    ExclusiveLock guard(startupLock);
    ++startupCount;  // the source holds a unit, so the library is already started
}

void TcpSocket::giveUp() noexcept {
    if (!shared) return;
    if (--shared->count == 0) {
        close();
        delete shared;
    }
    shared = nullptr;
    releaseSockets();
}

void TcpSocket::fail(std::string text) noexcept {
    giveUp();
    failure_ = std::move(text);
}

void TcpSocket::close() noexcept {
    if (shared && shared->handle != INVALID_SOCKET) {
        closesocket(shared->handle);
        shared->handle = INVALID_SOCKET;
    }
}

SOCKET TcpSocket::nativeHandle() const { return shared ? shared->handle : INVALID_SOCKET; }

int32_t TcpSocket::shareCount() const { return shared ? shared->count : 0; }

void TcpSocket::sendBytes(const std::string &text) const {
    send(nativeHandle(), text.data(), static_cast<int>(text.size()), 0);
}

void TcpSocket::sendLine(std::string text) const {
    text += '\n';
    sendBytes(text);
}

std::string TcpSocket::receiveAvailable() const {
    std::string result;
    char buffer[1024];
    for (;;) {
        u_long waiting = 0;
        if (ioctlsocket(nativeHandle(), FIONREAD, &waiting) != 0 || waiting == 0) break;
        const int wanted =
            waiting < sizeof buffer ? static_cast<int>(waiting) : static_cast<int>(sizeof buffer);
        const int got = recv(nativeHandle(), buffer, wanted, 0);
        if (got <= 0) break;
        result.append(buffer, static_cast<size_t>(got));
    }
    return result;
}

Received TcpSocket::receiveWithin(uint32_t limitMs) const {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(nativeHandle(), &readable);
    timeval limit = timeLimit(limitMs);
    const int ready = select(0, &readable, nullptr, nullptr, &limit);
    if (ready == SOCKET_ERROR) return {Received::Failed, std::string(), WSAGetLastError()};
    if (ready == 0) return {Received::TimedOut, std::string(), 0};
    char buffer[1024];
    const int got = recv(nativeHandle(), buffer, sizeof buffer, 0);
    if (got > 0) return {Received::Data, std::string(buffer, static_cast<size_t>(got)), 0};
    if (got == 0) return {Received::Closed, std::string(), 0};
    const int error = WSAGetLastError();
    // Readable yet nothing to take: a spurious wake-up, not a failure.
    if (error == WSAEWOULDBLOCK) return {Received::TimedOut, std::string(), 0};
    return {Received::Failed, std::string(), error};
}

std::string TcpSocket::receiveLine() const {
    std::string result;
    for (;;) {
        char byte;
        const int got = recv(nativeHandle(), &byte, 1, 0);
        if (got == SOCKET_ERROR) return std::string();
        if (got == 0) return result;
        result += byte;
        if (byte == '\n') return result;
    }
}

TcpClientSocket::TcpClientSocket(const std::string &host, int32_t port, int32_t limitMs,
                                 SocketMode mode) noexcept {
    if (failed()) return;
    // Every text built below could only fail for want of memory.
    try {
        // A dotted address needs no resolver; under Wine a look-up is a costly round trip.
        const unsigned long numeric = inet_addr(host.c_str());
        sockaddr_in address = {};
        std::string failure;
        if (numeric != INADDR_NONE || host == "255.255.255.255") {
            address = ipv4Address(port, &numeric);
        } else if (limitMs >= 0) {
            failure = resolveWithin(host, port, limitMs, address);
        } else {
            const hostent *entry = gethostbyname(host.c_str());
            if (!entry || entry->h_length != 4 || !entry->h_addr_list || !entry->h_addr_list[0])
                failure = lookupFailedText(host, WSAGetLastError());
            else
                address = ipv4Address(port, entry->h_addr_list[0]);
        }
        if (failure.empty() && limitMs >= 0) {
            failure = connectWithin(nativeHandle(), address, limitMs, mode);
        } else if (failure.empty()) {
            if (connect(nativeHandle(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
                failure = connectFailedText(WSAGetLastError());
            else if (mode == SocketMode::NonBlocking)
                setNonBlocking(nativeHandle(), true);
        }
        if (!failure.empty()) fail(std::move(failure));
    } catch (...) {
        fail(kUnhandledText);
    }
}

TcpClientSocket::~TcpClientSocket() = default;

TcpServerSocket::TcpServerSocket(int32_t port, int32_t backlog, int32_t nonBlocking,
                                 const char *bindAddress) noexcept {
    if (failed()) return;
    unsigned long numeric = INADDR_ANY;
    if (bindAddress) {
        numeric = inet_addr(bindAddress);
        if (numeric == INADDR_NONE) {
            fail(kNoSocketText);
            return;
        }
    }
    const sockaddr_in address = ipv4Address(port, &numeric);
    if (nonBlocking == 1) setNonBlocking(nativeHandle(), true);
    if (bind(nativeHandle(), reinterpret_cast<const sockaddr *>(&address), sizeof address) == SOCKET_ERROR) {
        fail(kNoSocketText);
        return;
    }
    listen(nativeHandle(), backlog);
}

TcpServerSocket::~TcpServerSocket() = default;

TcpSocket *TcpServerSocket::acceptConnection(std::string *failure) const {
    const SOCKET accepted = accept(nativeHandle(), nullptr, nullptr);
    if (accepted == INVALID_SOCKET) {
        if (WSAGetLastError() != WSAEWOULDBLOCK && failure) *failure = kAcceptFailedText;
        return nullptr;
    }
    auto *connection = new (std::nothrow) TcpSocket(accepted);
    if (!connection) closesocket(accepted);
    if (!connection && failure) *failure = kUnhandledText;
    return connection;
}

int32_t TcpServerSocket::boundPort() const {
    sockaddr_in address = {};
    int length = sizeof address;
    if (getsockname(nativeHandle(), reinterpret_cast<sockaddr *>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

SocketSelector::SocketSelector(const TcpSocket &first, const TcpSocket *second, int32_t pollOnly) {
    FD_ZERO(&readable);
    FD_SET(first.nativeHandle(), &readable);
    if (second) FD_SET(second->nativeHandle(), &readable);
    timeval poll = {0, 1};
    wait(pollOnly == 1 ? &poll : nullptr);
}

SocketSelector::SocketSelector(const TcpSocket &socket, uint32_t limitMs) {
    FD_ZERO(&readable);
    FD_SET(socket.nativeHandle(), &readable);
    timeval limit = timeLimit(limitMs);
    wait(&limit);
}

void SocketSelector::wait(timeval *limit) {
    if (select(0, &readable, nullptr, nullptr, limit) == SOCKET_ERROR) {
        failed_ = true;
        FD_ZERO(&readable);
    }
}

bool SocketSelector::isReady(const TcpSocket &socket) const {
    return FD_ISSET(socket.nativeHandle(), const_cast<fd_set *>(&readable)) != 0;
}

}  // namespace varnex
