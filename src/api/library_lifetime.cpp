// The library's life inside a host process, told in one place.
//
// Load. Loading does nothing of the library's own: DllMain has no work at
// attach and no static object does work in its constructor. The first call
// of any export creates the one SignalDispatcher through a one-time
// initialisation (concurrent first callers wait for it), which reads
// Varnex.ini; the "_initial" console lines are written by that caller once
// the others may go on. Each export call, this first one included, runs
// inside a DispatcherCall, which sets the host thread's floating-point state
// aside and gives it back as the export returns.
//
// Unload. A reload is a fresh library: when the host's FreeLibrary takes the
// last reference, DllMain (DLL_PROCESS_DETACH, reserved null) calls
// releaseDispatcher, on the unloading thread and under the loader lock, and
// everything the dispatcher opened goes with it. What that lock forbids
// shapes each step:
// - Windows Sockets stays started (SocketsStarted::leaveStarted): WSACleanup
//   may unload its protocol helpers and deadlock on the loader lock; the
//   next load's start-up only counts up.
// - The pipe relay's client handles are closed, so a receiver elsewhere is
//   free for its next sender at once.
// - The log and the signal debug files kept open are closed, and the view of
//   the session's table of append guards is unmapped: closing waits for
//   nothing. No thread of the host is inside an append then (an unload
//   during a call is the host's fault), so no guard word is held.
// - The two delivery lanes are told to stop and ended where they park (a
//   lane stops between two symbols; it holds a symbol's turn for one file
//   try or one pipe send, at most the send's 2 s bound; a TCP exchange ends
//   at the stop), then every position still owed is logged, one line per
//   symbol and destination. So nothing a lane calls may need the loader
//   lock: the process's path for the status is read at the first call. A
//   lane that cannot be ended keeps its dispatcher for good; its pipe
//   connection is let go, so the receiver serves the next load.
// - The library's own threads (the receiving reader, the console writer
//   and the name look-ups) cannot be joined: an ending thread needs the
//   loader lock. Each is owned by a LibraryThread (lifetime/library_thread.h),
//   which has it park, once its work is done, at its only alertable wait,
//   and ends it there with two APCs, SetEvent and ExitThread, so that Wine
//   frees its stack too. A thread held in a call it cannot leave (the host's
//   order function, a console write nobody drains, the system's resolver)
//   made that call through a stub outside this module (DetachableCall); the
//   call is detached, the thread ends when it returns, and the module is
//   unmapped as usual. The stub's pages and the thread stay until then. Only
//   a thread that is in neither (never seen) pins the module.
//   - The reader is asked to stop; it hands every order it took from its
//     pipe to the host first (a sender's write completes only when the
//     reader takes it, so nothing reported "OK:true" is left behind), and
//     releases its pipes and the session's receiver claim, which a detached
//     reader's task, freed at the stop, releases for it. It is given
//     PipeReader::kStopLimitMs.
//   - The console writer writes what is queued for up to
//     kConsoleFlushLimitMs; a writer still held then is in a WriteFile on a
//     handle nobody drains, so the rest of the queue is dropped and the
//     write cancelled (CancelSynchronousIo, repeated until it lands).
//   - A name look-up still in the resolver is not waited for: the next load
//     starts its own.
// - The one-time initialisation is reset, so a library kept mapped (by the
//   rare pin above) creates a fresh dispatcher on its next use, and a fresh
//   console writer with its first line.
// - The C++ runtime's emergency exception pool is given back; nothing on
//   the library's paths throws in normal operation, so no exception has
//   taken the TLS slot that the runtime would keep for it.
// What remains of a load is outside the library's reach: in the 32-bit DLL,
// the semaphore of the unwinder's frame registration lock.
//
// Process exit (reserved set): the system ends every thread and closes
// every handle itself; the one thing done is removing a status file that
// owed nothing (a name call, no lock, no other thread needed). The console writer is among the threads
// ended before DllMain runs, so lines it had not yet written are lost then
// (the log has them all); writing them from the exiting thread could hold
// the exit for ever on a console nobody drains.
#include <memory>

#include "api/signal_dispatcher.h"
#include "console/console.h"
#include "lifetime/runtime.h"
#include "net/name_lookup.h"

namespace varnex {

namespace {

INIT_ONCE dispatcherOnce = INIT_ONCE_STATIC_INIT;
SignalDispatcher *dispatcher = nullptr;

// FALSE leaves the one-time state unset, so a later call tries again: when
// memory ran out for the dispatcher or for reading its configuration.
BOOL CALLBACK createDispatcher(PINIT_ONCE, PVOID createdHere, PVOID *) {
    try {
        std::unique_ptr<SignalDispatcher> created(new SignalDispatcher());
        if (!created->configured()) return FALSE;
        dispatcher = created.release();
        *static_cast<bool *>(createdHere) = true;
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

SignalDispatcher *fetchDispatcher() noexcept {
    bool createdHere = false;
    if (!InitOnceExecuteOnce(&dispatcherOnce, createDispatcher, &createdHere, nullptr)) return nullptr;
    // Queued by the creating thread once the others may go on.
    if (createdHere) writeConsole(ConsoleStream::Output, "_initial ... start.\r\n_initial ... end.\r\n");
    return dispatcher;
}

}  // namespace

DispatcherCall::DispatcherCall() noexcept : dispatcher_(fetchDispatcher()) {}

void releaseDispatcher() noexcept {
    // A delivery thread that could not be ended keeps its dispatcher (and
    // the module stays mapped): it is left, not freed under it.
    if (dispatcher && dispatcher->prepareUnload()) delete dispatcher;
    dispatcher = nullptr;
    endNameLookups();
    stopConsoleWriter();
    InitOnceInitialize(&dispatcherOnce);
    releaseRuntimeAtUnload();
}

void leaveAtProcessExit() noexcept {
    if (dispatcher) dispatcher->atProcessExit();
}

}  // namespace varnex
