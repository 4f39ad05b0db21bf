#include "net/name_lookup.h"

#include <winsock2.h>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "common/handles.h"
#include "common/locks.h"
#include "lifetime/detached_call.h"
#include "lifetime/library_thread.h"
#include "net/socket_errors.h"
#include "net/winsock_startup.h"

namespace varnex {

namespace {

// How long the starter of a look-up waits for its thread to run.
constexpr DWORD kLookupStartLimitMs = 2000;

// gethostbyname's result lives in the calling thread's storage: copied at once.
bool firstAddress(const hostent *entry, uint32_t &address) {
    if (!entry || entry->h_length != 4 || !entry->h_addr_list || !entry->h_addr_list[0]) return false;
    std::memcpy(&address, entry->h_addr_list[0], 4);
    return true;
}

// A name look-up that may take the resolver's own time (about 10 s when it
// does not answer) runs on a thread of its own, and the caller waits for it
// at most its limit. Callers asking for a name whose look-up is still
// running wait for that one, so a silent resolver costs one thread per name,
// not per call. The thread parks when its look-up is done, and is ended by
// the caller that starts the next look-up, or at the unload. A look-up still
// inside the resolver then is detached from it (lifetime/library_thread.h):
// the unload does not wait for the resolver, and its thread ends when the
// resolver returns, touching nothing of this module.
//
// What a look-up found, shared by the callers waiting for the name and by
// the thread's task: unlike the task, it is read after the thread has been
// ended, by a caller that waited for it while another caller ended the
// thread.
struct LookupResult {
    UniqueHandle done;
    bool found = false;  // written before `done` is set
    uint32_t address = 0;
    int error = 0;
};

// The look-up thread's task, owned by its LibraryThread; a pinned thread
// keeps its share of the result with it.
struct LookupTask final : LibraryThread::Task {
    std::shared_ptr<LookupResult> result;
    // The name as the resolver reads it: its own copy, which a look-up
    // detached at the unload leaves to the resolver.
    std::unique_ptr<char[]> name;
    DetachableCall call;

    void run() noexcept override;
    void leaveToDetachedCall() noexcept override { static_cast<void>(name.release()); }
};

// A look-up's thread, held by the table until it is ended, and by its
// starter until it is confirmed.
struct LookupThread {
    LibraryThread thread;
    LookupTask *task = nullptr;  // owned by `thread`
    // Set by the starter once it has seen the thread run; until then no
    // other caller ends the thread.
    std::atomic<bool> confirmed{false};
};

// Guards `lookups`; held for table operations and the creation of a
// look-up's thread, never while waiting for a thread, a look-up or ending a
// thread.
SRWLOCK lookupsLock = SRWLOCK_INIT;
struct Lookups {
    std::map<std::string, std::shared_ptr<LookupResult>> running;  // by host, not yet done
    std::vector<std::shared_ptr<LookupThread>> threads;            // every look-up whose thread is owned
};
// Made with the first look-up and freed at the unload. A plain pointer: a
// function-local static would make the runtime create a guard semaphore at
// each load, which no unload gives back.
Lookups *lookups = nullptr;

void LookupTask::run() noexcept {
    using Resolve = hostent *(WSAAPI *)(const char *);
    const Resolve resolve = &gethostbyname;
    const hostent *entry =
        call.ready()
            ? reinterpret_cast<const hostent *>(call.call(reinterpret_cast<DetachableCall::Target>(resolve),
                                                          reinterpret_cast<uintptr_t>(name.get())))
            : resolve(name.get());
    result->found = firstAddress(entry, result->address);
    if (!result->found) result->error = WSAGetLastError();
    releaseSockets();  // the unit its starter took for it
    SetEvent(result->done.get());
}

// Starts a thread that looks `host` up; null, with the reason in
// GetLastError, when no thread could be had.
std::shared_ptr<LookupThread> startLookup(const std::string &host) {
    auto task = std::make_unique<LookupTask>();
    task->result = std::make_shared<LookupResult>();
    auto lookup = std::make_shared<LookupThread>();
    const size_t size = host.size() + 1;
    task->name.reset(new (std::nothrow) char[size]);
    if (!task->name) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::memcpy(task->name.get(), host.c_str(), size);
    task->result->done.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    // The caller holds a unit, so acquiring one here only counts.
    if (!task->result->done || !acquireSockets()) return nullptr;
    lookup->task = task.get();
    if (!lookup->thread.start(std::move(task))) {
        releaseSockets();
        return nullptr;
    }
    return lookup;
}

// Ends the threads of look-ups that are done; run by the caller that starts
// a new one, so that at most the threads of running look-ups stay.
void endFinishedLookups() {
    std::vector<std::shared_ptr<LookupThread>> finished;
    {
        ExclusiveLock guard(lookupsLock);
        if (!lookups) return;
        auto &threads = lookups->threads;
        for (auto it = threads.begin(); it != threads.end();) {
            if ((*it)->confirmed && (*it)->thread.waitParked(0)) {
                finished.push_back(std::move(*it));
                it = threads.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const auto &lookup : finished) lookup->thread.stop(0, nullptr);
}

FoundAddress lookUpWithin(const std::string &host, int32_t limitMs, HANDLE stop) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(limitMs);
    endFinishedLookups();
    std::shared_ptr<LookupResult> result;
    std::shared_ptr<LookupThread> started;
    {
        ExclusiveLock guard(lookupsLock);
        if (!lookups) lookups = new Lookups();
        std::shared_ptr<LookupResult> &running = lookups->running[host];
        if (running && WaitForSingleObject(running->done.get(), 0) == WAIT_OBJECT_0) running.reset();
        if (!running) {
            lookups->threads.reserve(lookups->threads.size() + 1);
            std::shared_ptr<LookupThread> fresh = startLookup(host);
            if (!fresh) {
                const int error = static_cast<int>(GetLastError());
                lookups->running.erase(host);
                return {0, {ConnectFailure::Lookup, lookupFailedText(host, error)}};
            }
            running = fresh->task->result;
            lookups->threads.push_back(fresh);
            started = std::move(fresh);
        }
        result = running;
    }
    if (started) {
        // Seen running, with no lock held, so that an unload right after
        // finds it in the resolver or parked, where it can be let go; within
        // the caller's own limit.
        started->thread.confirmStarted(static_cast<DWORD>(limitMs) < kLookupStartLimitMs
                                           ? static_cast<DWORD>(limitMs)
                                           : kLookupStartLimitMs);
        started->confirmed = true;
    }
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    const HANDLE waits[] = {result->done.get(), stop};
    const DWORD woke = WaitForMultipleObjects(stop ? 2 : 1, waits, FALSE, left);
    if (woke == WAIT_OBJECT_0 + 1) return {0, {ConnectFailure::Stopped, stoppedText(NetStep::Lookup, host)}};
    const bool done = woke == WAIT_OBJECT_0;
    if (done) {
        ExclusiveLock guard(lookupsLock);
        const auto running = lookups->running.find(host);
        if (running != lookups->running.end() && running->second == result) lookups->running.erase(running);
    }
    if (!done) return {0, {ConnectFailure::Lookup, timedOutText(NetStep::Lookup, limitMs, host)}};
    if (!result->found) return {0, {ConnectFailure::Lookup, lookupFailedText(host, result->error)}};
    return {result->address, {}};
}

}  // namespace

FoundAddress lookUpAddress(const std::string &host, int32_t limitMs, HANDLE stop) {
    // Under Wine a look-up is a costly round trip, even for a dotted address.
    const unsigned long numeric = inet_addr(host.c_str());
    if (numeric != INADDR_NONE || host == "255.255.255.255") return {static_cast<uint32_t>(numeric), {}};
    if (limitMs >= 0) return lookUpWithin(host, limitMs, stop);
    FoundAddress found = {0, {}};
    if (!firstAddress(gethostbyname(host.c_str()), found.address))
        found.failure = {ConnectFailure::Lookup, lookupFailedText(host, WSAGetLastError())};
    return found;
}

void endNameLookups() noexcept {
    Lookups *ending = nullptr;
    {
        ExclusiveLock guard(lookupsLock);
        ending = std::exchange(lookups, nullptr);
    }
    if (!ending) return;
    // One in the resolver is let go at once (the name stays the
    // resolver's); one about to enter it or just out of it is given a
    // moment; one pinned keeps its task and the result it writes.
    for (const auto &lookup : ending->threads) lookup->thread.stop(0, &lookup->task->call);
    delete ending;
}

}  // namespace varnex
