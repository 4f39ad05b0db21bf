#include "console/console.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <utility>

#include "common/counts.h"
#include "common/handles.h"
#include "common/locks.h"
#include "lifetime/detached_call.h"
#include "lifetime/library_thread.h"

namespace varnex {

namespace {

// How long the first line's caller waits for the new writer to run, so that
// an unload right after finds it where it can be stopped.
constexpr DWORD kStartLimitMs = 2000;
// After the flush: how long a blocked write is cancelled, again and again,
// until the writer parks (a cancel that comes just before the write begins
// is lost, the next one finds it).
constexpr DWORD kCancelLimitMs = 1000;
constexpr DWORD kCancelEveryMs = 10;

enum class Phase { Running, Finishing, Abandoned };

// The writer thread's task, owned by its LibraryThread, so a parked thread
// holds nothing of its own, and a writer left running (module pinned) keeps
// a task that stays valid.
struct ConsoleWriterTask final : LibraryThread::Task {
    // Guards `queue`; held for queue operations only, never across a write.
    SRWLOCK lock = SRWLOCK_INIT;
    ConsoleQueue queue;
    UniqueHandle wake;  // auto-reset: lines queued, or the phase changed
    std::atomic<Phase> phase{Phase::Running};
    // Every write goes through it, so that a write no cancel ends can be
    // left to finish on its own while the library is unloaded.
    DetachableCall call;

    void run() noexcept override;
};

// What the library holds of its writer; freed at the stop, which leaves the
// task to a writer that still reads it.
struct ConsoleWriter {
    LibraryThread thread;
    ConsoleWriterTask *task = nullptr;  // owned by `thread`
};

// Guards `writer`: the start on first use, the queueing of lines (shared)
// and the stop at unload. A plain pointer: a static owner would end the
// writer in a static destructor after the unload.
SRWLOCK ownerLock = SRWLOCK_INIT;
ConsoleWriter *writer = nullptr;

HANDLE standardHandle(ConsoleStream stream) {
    return GetStdHandle(stream == ConsoleStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

void writeLine(ConsoleWriterTask &task, const ConsoleLine &line) {
    // Looked up at every line: the host may change its standard handles.
    const HANDLE handle = standardHandle(line.stream);
    if (!holdsHandle(handle)) return;
    const char *at = line.text.data();
    size_t left = line.text.size();
    while (left > 0 && task.phase != Phase::Abandoned) {
        DWORD written = 0;
        if (!task.call.writeFile(handle, at, clampToUint32(left), &written, nullptr) || written == 0) return;
        at += written;
        left -= written;
    }
}

void serve(ConsoleWriterTask &task) noexcept {
    for (;;) {
        if (task.phase == Phase::Abandoned) return;
        ConsoleLine line;
        bool have = false;
        try {
            ExclusiveLock guard(task.lock);
            have = task.queue.pop(line);
        } catch (...) {
            // No memory for the notice of dropped lines: it is skipped.
        }
        if (have) {
            writeLine(task, line);
        } else if (task.phase != Phase::Running) {
            return;
        } else {
            WaitForSingleObject(task.wake.get(), INFINITE);
        }
    }
}

void ConsoleWriterTask::run() noexcept { serve(*this); }

// Under ownerLock, held exclusively. Leaves `writer` null when no thread
// could be had; the next line tries again.
void startWriter() {
    auto started = std::make_unique<ConsoleWriter>();
    auto task = std::make_unique<ConsoleWriterTask>();
    task->wake.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    ConsoleWriterTask *const running = task.get();
    if (!task->wake || !started->thread.start(std::move(task))) return;
    started->task = running;
    writer = started.release();
}

void enqueue(ConsoleWriterTask &task, ConsoleStream stream, const std::string &text) {
    {
        ExclusiveLock guard(task.lock);
        task.queue.push(stream, text);
    }
    SetEvent(task.wake.get());
}

}  // namespace

void writeConsole(ConsoleStream stream, const std::string &text) noexcept {
    if (text.empty() || !holdsHandle(standardHandle(stream))) return;
    try {
        {
            SharedLock owner(ownerLock);
            if (writer) {
                enqueue(*writer->task, stream, text);
                return;
            }
        }
        const LibraryThread *started = nullptr;
        {
            ExclusiveLock owner(ownerLock);
            if (!writer) {
                startWriter();
                if (writer) started = &writer->thread;
            }
            if (writer) enqueue(*writer->task, stream, text);
        }
        // The caller that started the writer waits for it to run, so that an
        // unload right after finds it where it can be stopped; with no lock
        // held, so the other threads' lines are queued meanwhile. (Only an
        // unload, which no export call may overlap, ends the writer.)
        if (started) started->confirmStarted(kStartLimitMs);
    } catch (...) {
        // Out of memory: the line is lost, the log still has its record.
    }
}

void stopConsoleWriter() noexcept {
    ExclusiveLock owner(ownerLock);
    const std::unique_ptr<ConsoleWriter> ending(std::exchange(writer, nullptr));
    if (!ending) return;
    ConsoleWriterTask &task = *ending->task;
    LibraryThread &thread = ending->thread;
    task.phase = Phase::Finishing;
    SetEvent(task.wake.get());
    if (!thread.waitParked(kConsoleFlushLimitMs)) {
        // Held in a write: the rest is dropped, and the write cancelled.
        task.phase = Phase::Abandoned;
        const ULONGLONG deadline = GetTickCount64() + kCancelLimitMs;
        do {
            CancelSynchronousIo(thread.handle());
        } while (!thread.waitParked(kCancelEveryMs) && GetTickCount64() < deadline);
    }
    // A write that no cancel ends is detached: the writer's thread ends when
    // it returns, without coming back into this module, and its task goes
    // (the write was handed a line that the thread's own frames hold). A
    // writer neither parked nor in a write runs code of this module and
    // reads its task, which stays for good.
    thread.stop(0, &task.call);
}

}  // namespace varnex
