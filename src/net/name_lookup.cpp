#include "net/name_lookup.h"

#include <winsock2.h>

#include <cstring>
#include <map>
#include <memory>
#include <new>

#include "common/handles.h"
#include "common/locks.h"
#include "net/socket_errors.h"
#include "net/winsock_startup.h"

namespace varnex {

namespace {

// gethostbyname's result lives in the calling thread's storage: copied at once.
bool firstAddress(const hostent *entry, uint32_t &address) {
    if (!entry || entry->h_length != 4 || !entry->h_addr_list || !entry->h_addr_list[0]) return false;
    std::memcpy(&address, entry->h_addr_list[0], 4);
    return true;
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
    uint32_t address = 0;
    int error = 0;
};

// Guards the table of running look-ups; held for map operations and the
// start of a thread only, never while waiting for a look-up.
SRWLOCK lookupsLock = SRWLOCK_INIT;
// Made with the first look-up that runs and freed when the last one ends,
// so nothing of it outlives an unload (a running look-up keeps the module
// loaded). A plain pointer: a function-local static would make the runtime
// create a guard semaphore at each load, which no unload gives back.
using RunningLookups = std::map<std::string, std::shared_ptr<LookupTask>>;
RunningLookups *runningLookups = nullptr;

// Takes `host`'s entry out of the table, if it is still `task`'s; the
// caller holds lookupsLock.
void forgetLookup(const std::string &host, const LookupTask *task) {
    if (!runningLookups) return;
    const auto running = runningLookups->find(host);
    if (running != runningLookups->end() && running->second.get() == task) runningLookups->erase(running);
    if (runningLookups->empty()) {
        delete runningLookups;
        runningLookups = nullptr;
    }
}

// Everything with a destructor lives and ends in here, before the thread
// gives up its module reference.
HMODULE runLookup(void *parameter) noexcept {
    std::unique_ptr<std::shared_ptr<LookupTask>> holder(
        static_cast<std::shared_ptr<LookupTask> *>(parameter));
    LookupTask &task = **holder;
    const HMODULE module = task.module;
    task.found = firstAddress(gethostbyname(task.host.c_str()), task.address);
    if (!task.found) task.error = WSAGetLastError();
    SetEvent(task.done.get());
    {
        ExclusiveLock guard(lookupsLock);
        forgetLookup(task.host, &task);
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
    // The caller holds a unit, so acquiring one here only counts.
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

FoundAddress lookUpWithin(const std::string &host, int32_t limitMs) {
    std::shared_ptr<LookupTask> task;
    {
        ExclusiveLock guard(lookupsLock);
        if (!runningLookups) runningLookups = new RunningLookups();
        std::shared_ptr<LookupTask> &running = (*runningLookups)[host];
        if (!running) {
            auto fresh = std::make_shared<LookupTask>();
            fresh->host = host;
            if (!startLookup(fresh)) {
                const int error = static_cast<int>(GetLastError());
                forgetLookup(host, nullptr);
                return {0, lookupFailedText(host, error)};
            }
            running = fresh;
        }
        task = running;
    }
    if (WaitForSingleObject(task->done.get(), static_cast<DWORD>(limitMs)) != WAIT_OBJECT_0)
        return {0, timedOutText(NetStep::Lookup, limitMs, host)};
    if (!task->found) return {0, lookupFailedText(host, task->error)};
    return {task->address, std::string()};
}

}  // namespace

FoundAddress lookUpAddress(const std::string &host, int32_t limitMs) {
    // Under Wine a look-up is a costly round trip, even for a dotted address.
    const unsigned long numeric = inet_addr(host.c_str());
    if (numeric != INADDR_NONE || host == "255.255.255.255")
        return {static_cast<uint32_t>(numeric), std::string()};
    if (limitMs >= 0) return lookUpWithin(host, limitMs);
    FoundAddress found = {0, std::string()};
    if (!firstAddress(gethostbyname(host.c_str()), found.address))
        found.failure = lookupFailedText(host, WSAGetLastError());
    return found;
}

}  // namespace varnex
