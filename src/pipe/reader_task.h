// What the receiving end's reader thread works on: the pipe pair, the
// session's receiver claim and the host's order function. Shared by the
// reader's owner (pipe_reader.cpp) and its serve loop (reader_serve.cpp).
#ifndef VARNEX_PIPE_READER_TASK_H
#define VARNEX_PIPE_READER_TASK_H

#include <windows.h>

#include <atomic>
#include <string>

#include "common/handles.h"
#include "common/locks.h"
#include "lifetime/detached_call.h"
#include "lifetime/library_thread.h"
#include "pipe/pipe_io.h"
#include "pipe/pipe_names.h"
#include "pipe/pipe_reader.h"
#include "varnex.h"

namespace varnex {

// The reader thread's task, owned by its LibraryThread, so a parked thread
// holds nothing of its own. The task owns the pipe pair, which it keeps from
// the start to the end of the receiver, and the claim that makes it the one
// receiver of the session: a reader detached in the host's order function
// lets them go as its task is freed, a pinned one as it ends.
struct PipeReaderTask final : LibraryThread::Task {
    std::string inPath;
    std::string outPath;
    std::string stopWord;
    OrderCallback callback = nullptr;
    // Guards the pipe handles and the claim. The reader uses the pipes
    // without it, for it is the only thread that closes them (release(), as
    // it ends), except once it is inside the host's callback for good and
    // will never use them again (PipeReader::stop). Nothing waits on a peer
    // while holding it.
    SRWLOCK lock = SRWLOCK_INIT;
    UniqueHandle claim;  // a named object: while it exists, nobody else becomes the receiver
    UniqueHandle inPipe;
    UniqueHandle outPipe;
    UniqueHandle outConnected;   // the pending connect of the "_OUT" pipe
    OVERLAPPED outConnect = {};  // valid while outConnectPending
    bool outConnectPending = false;
    UniqueHandle ioDone;  // the reader's own overlapped requests
    UniqueHandle stopEvent;
    std::atomic<bool> stopping{false};
    std::atomic<ReaderExit> result{ReaderExit::Serving};
    // The host's order function is called through it, so that a call that
    // does not return in time can be left to end on its own at the unload.
    DetachableCall call;

    ~PipeReaderTask() override { release(); }

    void run() noexcept override;

    bool createEvents() {
        for (UniqueHandle *event : {&outConnected, &ioDone, &stopEvent}) {
            event->reset(createEvent());
            if (!*event) return false;
        }
        return true;
    }

    // Takes the session's one receiver claim and creates both pipes; false
    // when another receiver lives (in this process or any other) or the
    // pipe names are taken.
    bool claimAndCreatePipes() {
        ExclusiveLock guard(lock);
        const std::string name = receiverClaimName(inPath);
        claim.reset(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
        if (!claim || GetLastError() == ERROR_ALREADY_EXISTS) {
            claim.reset();
            return false;
        }
        inPipe.reset(createPipe(inPath, PIPE_ACCESS_INBOUND));
        if (inPipe) outPipe.reset(createPipe(outPath, PIPE_ACCESS_OUTBOUND));
        if (inPipe && outPipe) return true;
        inPipe.reset();
        claim.reset();
        return false;
    }

    // The sender went: both pipes are let go of it without ever letting go
    // of their names; waitForSender offers them again.
    void disconnect() {
        ExclusiveLock guard(lock);
        DisconnectNamedPipe(inPipe.get());
        endOutConnect();
        DisconnectNamedPipe(outPipe.get());
    }

    // Offers the "_OUT" pipe to the next sender. It must come after "_IN":
    // a sender opens "_OUT" first, and one that found "_OUT" offered but
    // "_IN" not yet would let go of "_OUT" again, leaving it taken by a
    // sender that is gone, and every later sender refused.
    void offerOut() {
        ExclusiveLock guard(lock);
        if (outConnectPending) return;
        outConnect = {};
        outConnect.hEvent = outConnected.get();
        outConnectPending =
            !ConnectNamedPipe(outPipe.get(), &outConnect) && GetLastError() == ERROR_IO_PENDING;
    }

    // The receiver ends: its pipes and its claim go, so another may take over.
    void release() noexcept {
        ExclusiveLock guard(lock);
        endOutConnect();
        inPipe.reset();
        outPipe.reset();
        claim.reset();
    }

    // Waits `ms` unless asked to stop first; true when asked to stop.
    bool pauseUnlessStopped(DWORD ms) const {
        return WaitForSingleObject(stopEvent.get(), ms) != WAIT_TIMEOUT;
    }

private:
    // No request may outlive its OVERLAPPED.
    void endOutConnect() noexcept {
        if (!outConnectPending) return;
        CancelIoEx(outPipe.get(), &outConnect);
        DWORD ignored = 0;
        GetOverlappedResult(outPipe.get(), &outConnect, &ignored, TRUE);
        outConnectPending = false;
    }
};

}  // namespace varnex

#endif
