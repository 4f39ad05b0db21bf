#include "lifetime/library_thread.h"

#include <initializer_list>
#include <memory>
#include <new>
#include <utility>

#include "common/handles.h"

namespace varnex {

namespace {

// How long a parked thread is given to run its ending APCs; it needs only
// to be scheduled.
constexpr DWORD kEndLimitMs = 2000;
// How long, past the caller's limit, a thread found neither parked nor in
// its call is looked at again, and how often.
constexpr DWORD kSettleLimitMs = 100;
constexpr DWORD kSettleEveryMs = 5;

template <typename Function>
PAPCFUNC asApc(Function *function) {
    return reinterpret_cast<PAPCFUNC>(reinterpret_cast<void (*)()>(function));
}

// Ends a thread of this module that waits alertably at its parking point (its
// only alertable wait, reached only once it runs no code of the host's): two
// APCs, both system functions of one pointer-sized argument, run there in
// order, SetEvent(`signalled`), then ExitThread(`exitCode`). Once
// `signalled` is seen, the thread is on its way out without a return into
// this module; its exit, which needs the loader lock an unload holds, may
// complete after the module is gone. (TerminateThread would do as much, but
// Wine keeps the stack of a thread ended that way: a megabyte per reload.)
void queueThreadEnd(HANDLE thread, HANDLE signalled, DWORD exitCode) noexcept {
    // Both are queued while the thread is held: queued one by one, the first
    // could run alone and its wait return into this module's code, where the
    // thread would be when the unload, seeing `signalled`, unmaps it. Both
    // pending, the wait runs them back to back and never returns.
    const bool held = SuspendThread(thread) != static_cast<DWORD>(-1);
    QueueUserAPC(asApc(&SetEvent), thread, reinterpret_cast<ULONG_PTR>(signalled));
    QueueUserAPC(asApc(&ExitThread), thread, exitCode);
    if (held) ResumeThread(thread);
}

// The fallback for a thread that is in this module's own code and cannot be
// waited for: keeps the module mapped until the process ends, whatever
// FreeLibrary calls follow.
void keepModuleMapped() noexcept {
    HMODULE self;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&keepModuleMapped), &self);
}

}  // namespace

// Shared by the owner and the thread; freed by the owner once the thread
// touches it no more, leaked with the module when the thread is pinned.
struct LibraryThread::Control {
    std::unique_ptr<LibraryThread::Task> task;
    UniqueHandle started;
    UniqueHandle parked;
    UniqueHandle ending;  // set by the first ending APC
};

namespace {

DWORD WINAPI threadMain(LPVOID parameter) {
    auto *control = static_cast<LibraryThread::Control *>(parameter);
    SetEvent(control->started.get());
    control->task->run();
    SetEvent(control->parked.get());
    // The parking point: the work's objects are gone and nothing of the
    // control or the task is touched any more. The only alertable wait of
    // the thread, so the ending APCs run here and nowhere else.
    for (;;) SleepEx(INFINITE, TRUE);
}

}  // namespace

LibraryThread::~LibraryThread() {
    if (control_) stop(0, nullptr);
}

bool LibraryThread::start(std::unique_ptr<Task> task) noexcept {
    if (control_ || !task) return false;
    auto *control = new (std::nothrow) Control;
    if (!control) return false;
    control->task = std::move(task);
    // The owner reports why; freeing the task must not hide it.
    const auto fail = [control] {
        const DWORD error = GetLastError();
        delete control;
        SetLastError(error);
        return false;
    };
    for (UniqueHandle *event : {&control->started, &control->parked, &control->ending}) {
        event->reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        if (!*event) return fail();
    }
    DWORD id = 0;
    const HANDLE thread = CreateThread(nullptr, 0, threadMain, control, 0, &id);
    if (!holdsHandle(thread)) return fail();
    control_ = control;
    thread_.reset(thread);
    id_ = id;
    return true;
}

bool LibraryThread::confirmStarted(DWORD limitMs) const noexcept {
    return control_ && WaitForSingleObject(control_->started.get(), limitMs) == WAIT_OBJECT_0;
}

bool LibraryThread::waitParked(DWORD limitMs) const noexcept {
    return control_ && WaitForSingleObject(control_->parked.get(), limitMs) == WAIT_OBJECT_0;
}

LibraryThread::Ending LibraryThread::stop(DWORD limitMs, DetachableCall *call) noexcept {
    if (!control_) return Ending::Ended;
    Ending ending = Ending::Pinned;
    // A thread between two steps of its work (a call just returned, the next
    // not yet begun, or on its way to park) is neither parked nor detachable
    // for a moment: it is looked at again for a while before being pinned.
    const ULONGLONG settleBy = GetTickCount64() + limitMs + kSettleLimitMs;
    DWORD waitMs = limitMs;
    for (;;) {
        if (!isCurrent() && waitParked(waitMs)) {
            queueThreadEnd(thread_.get(), control_->ending.get(), 0);
            if (WaitForSingleObject(control_->ending.get(), kEndLimitMs) == WAIT_OBJECT_0)
                ending = Ending::Ended;
            break;
        }
        if (call && call->detach()) {
            ending = Ending::Detached;  // it never comes back to its control
            break;
        }
        if (isCurrent() || GetTickCount64() >= settleBy) break;
        waitMs = kSettleEveryMs;
    }
    // What becomes of the task (and of the control beside it):
    // - Ended: the thread is gone, so is what it worked on.
    // - Detached: the thread ends where its call returns, in the stub, and
    //   never comes back to its work. Only the callee may still read
    //   something, what the work handed it: the task lets go of that first,
    //   then is freed, so that its handles, a receiver's pipes and claim
    //   among them, go with the unload rather than with the call's return.
    // - Pinned: the thread runs this module's code and reads its task, now
    //   or later; freed under it, the task would crash the host. The task
    //   stays, with the control and the module, until the process ends.
    if (ending == Ending::Detached) control_->task->leaveToDetachedCall();
    if (ending == Ending::Pinned) keepModuleMapped();
    if (ending != Ending::Pinned) delete control_;
    thread_.reset();
    control_ = nullptr;
    id_ = 0;
    return ending;
}

}  // namespace varnex
