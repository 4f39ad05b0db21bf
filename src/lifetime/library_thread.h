// The owner of every thread this library starts: the pipe reader, the
// console writer and the name look-ups.
//
// A thread of a library that a host may unload at any moment cannot simply
// return or be joined: an ending thread needs the loader lock, which an
// unload holds while it waits for the library's threads, and a thread that
// returns into a module being unmapped crashes the host. TerminateThread is
// no way out either: Wine keeps the stack of a thread ended so, a megabyte
// per reload. So each thread runs its work and then parks, at one point, its
// only alertable wait, reached once it runs no code of the host's and holds
// no lock and nothing of its own. Its owner ends it there with two APCs,
// SetEvent then ExitThread: once the event is seen the thread is leaving
// without a return into this module, and the platform frees its stack when
// its exit completes (after the unload has let go of the loader lock).
//
// A thread that does not park in time is inside a call it cannot leave: the
// host's order function, a write nobody drains, the system's resolver. If
// that call goes through a DetachableCall it is detached, and the thread ends
// where the call returns, outside this module. Only a thread that is in
// neither keeps the module mapped for good (keepModuleMapped), and its work
// keeps whatever it works on.
//
// What the thread works on, its Task, is handed over at the start, and its
// fate after each ending is decided in stop(), the one place that knows how
// the thread ended.
#ifndef VARNEX_LIFETIME_LIBRARY_THREAD_H
#define VARNEX_LIFETIME_LIBRARY_THREAD_H

#include <windows.h>

#include <memory>

#include "common/handles.h"
#include "lifetime/detached_call.h"

namespace varnex {

class LibraryThread {
public:
    // What a thread works on. Its owner may keep a plain pointer to it until
    // stop(), which frees it or leaves it to the thread.
    class Task {
    public:
        virtual ~Task() = default;
        // The thread's work; it must not throw. When it returns, the thread parks.
        virtual void run() noexcept = 0;
        // At a Detached ending, just before the task is freed: lets go of,
        // without freeing, what the work handed to its DetachableCall and the
        // callee may still read. What lies on the thread's stack needs
        // nothing: a detached thread's stack stays until it ends.
        virtual void leaveToDetachedCall() noexcept {}
    };

    enum class Ending {
        Ended,     // parked and ended, or never started: its task is freed
        Detached,  // left inside its DetachableCall: it ends where that call returns; its task is freed
        Pinned,    // still in this module's code: the module stays mapped, and its task stays too
    };

    LibraryThread() = default;
    // A thread still owned is stopped without waiting.
    ~LibraryThread();
    LibraryThread(const LibraryThread &) = delete;
    LibraryThread &operator=(const LibraryThread &) = delete;

    // Creates the thread, which runs `task`; false when it could not be had
    // (the task is freed then, nothing is left, and GetLastError still says
    // why). At most once in the owner's life.
    bool start(std::unique_ptr<Task> task) noexcept;
    // Waits up to `limitMs` for the new thread to run. An owner that may be
    // stopped right after the start confirms it first, so that the stop finds
    // the thread where it can be ended rather than not yet begun.
    bool confirmStarted(DWORD limitMs) const noexcept;
    // True once the work has returned and the thread waits to be ended.
    bool waitParked(DWORD limitMs) const noexcept;
    bool started() const { return control_ != nullptr; }
    bool isCurrent() const { return control_ && GetCurrentThreadId() == id_; }
    // Its thread id; 0 before the start.
    DWORD id() const { return id_; }
    // For CancelSynchronousIo; the owner keeps it.
    HANDLE handle() const { return thread_.get(); }

    // Waits up to `limitMs` for the thread to park (not at all when called
    // on the thread itself) and ends it there; else detaches `call`, the
    // work's call that may not return, if it is under way; else, after
    // looking again for a little while, pins the module. Afterwards the
    // owner holds no thread, and its pointer to the task is not to be used.
    Ending stop(DWORD limitMs, DetachableCall *call) noexcept;

    struct Control;  // what the thread itself reads

private:
    Control *control_ = nullptr;  // lives as long as the thread may touch it
    UniqueHandle thread_;
    DWORD id_ = 0;
};

}  // namespace varnex

#endif
