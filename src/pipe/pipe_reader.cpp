#include "pipe/pipe_reader.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "common/locks.h"
#include "pipe/message_framing.h"
#include "pipe/pipe_io.h"

namespace varnex {

namespace {

constexpr DWORD kBufferSize = 1024;
// Pause before trying again when the pipes cannot be made ready, doubled up
// to the limit while the failure lasts (another process holds the names).
constexpr DWORD kRetryFirstMs = 10;
constexpr DWORD kRetryLimitMs = 500;
// How long a reader asked to stop goes on handing over what its senders had
// already written; below PipeReader::kStopLimitMs, so that it parks in time.
constexpr ULONGLONG kDrainLimitMs = 1500;

// Keeps this library mapped until the process ends, whatever FreeLibrary calls follow.
void pinModule() {
    HMODULE self;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&pinModule), &self);
}

}  // namespace

// Owned by the PipeReader; the thread works on it through a plain pointer, so
// a thread ended by force leaves nothing of its own behind. The task owns the
// pipe pair, because the reader offers fresh pipes when a sender goes.
struct PipeReaderTask {
    std::string inPath;
    std::string outPath;
    std::string stopWord;
    OrderCallback callback = nullptr;
    // Guards the two pipe handles: the reader replaces them between senders,
    // a server-side send writes to the "_OUT" pipe, and closing a channel
    // whose reader is stuck in the host's callback closes them. Nothing
    // waits on a peer while holding it.
    SRWLOCK lock = SRWLOCK_INIT;
    UniqueHandle inPipe;
    UniqueHandle outPipe;
    UniqueHandle outEvent;  // server-side send
    UniqueHandle ioDone;    // the reader's own overlapped requests
    UniqueHandle stopEvent;
    UniqueHandle startedEvent;
    UniqueHandle parkedEvent;
    std::atomic<bool> stopping{false};
    std::atomic<DWORD> result{STILL_ACTIVE};

    bool createEvents() {
        for (UniqueHandle *event : {&outEvent, &ioDone, &stopEvent, &startedEvent, &parkedEvent}) {
            event->reset(createEvent());
            if (!*event) return false;
        }
        return true;
    }

    bool createPipes() {
        ExclusiveLock guard(lock);
        inPipe.reset();
        outPipe.reset();
        inPipe.reset(createPipe(inPath, PIPE_ACCESS_INBOUND));
        if (!inPipe) return false;
        outPipe.reset(createPipe(outPath, PIPE_ACCESS_OUTBOUND));
        if (!outPipe) {
            inPipe.reset();
            return false;
        }
        return true;
    }

    // Waits `ms` unless asked to stop first; true when asked to stop.
    bool pauseUnlessStopped(DWORD ms) const {
        return WaitForSingleObject(stopEvent.get(), ms) != WAIT_TIMEOUT;
    }
};

namespace {

enum class Step { Ready, Failed, Stopped };

// Waits for one of the reader's overlapped requests on `pipe`, or for the
// order to stop; a request still pending then is cancelled and its end
// awaited, so no request outlives its buffer.
Step awaitRequest(PipeReaderTask &task, HANDLE pipe, OVERLAPPED &pending) {
    HANDLE events[2] = {task.ioDone.get(), task.stopEvent.get()};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) return Step::Ready;
    CancelIoEx(pipe, &pending);
    DWORD ignored = 0;
    GetOverlappedResult(pipe, &pending, &ignored, TRUE);
    return Step::Stopped;
}

// Sleeps until a sender has opened the pipes: a read on a pipe nobody has
// opened fails at once, an overlapped ConnectNamedPipe waits.
Step waitForSender(PipeReaderTask &task) {
    HANDLE pipe = task.inPipe.get();
    OVERLAPPED pending = {};
    pending.hEvent = task.ioDone.get();
    if (!ConnectNamedPipe(pipe, &pending)) {
        switch (GetLastError()) {
            case ERROR_PIPE_CONNECTED:
            case ERROR_NO_DATA:  // came and went already; what it wrote is still to be read
                return Step::Ready;
            case ERROR_IO_PENDING:
                break;
            default:
                return Step::Failed;
        }
        if (awaitRequest(task, pipe, pending) == Step::Stopped) return Step::Stopped;
    }
    DWORD ignored = 0;
    if (GetOverlappedResult(pipe, &pending, &ignored, FALSE)) return Step::Ready;
    const DWORD error = GetLastError();
    return error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA ? Step::Ready : Step::Failed;
}

// One read; `got` holds what arrived even when the read then failed.
Step readSome(PipeReaderTask &task, char *buffer, DWORD &got) {
    HANDLE pipe = task.inPipe.get();
    OVERLAPPED pending = {};
    pending.hEvent = task.ioDone.get();
    got = 0;
    if (!ReadFile(pipe, buffer, kBufferSize, nullptr, &pending)) {
        if (GetLastError() != ERROR_IO_PENDING) return Step::Failed;
        if (awaitRequest(task, pipe, pending) == Step::Stopped) return Step::Stopped;
    }
    return GetOverlappedResult(pipe, &pending, &got, FALSE) ? Step::Ready : Step::Failed;
}

// Frames the bytes of the reads and hands each whole message to the callback.
// A message that cannot be framed (memory ran out) is dropped whole: the
// bytes up to its NUL are skipped, so the messages after it arrive intact.
class Delivery {
public:
    explicit Delivery(PipeReaderTask &task) : task_(task) {}

    // True once the stop word has been delivered.
    bool deliver(const char *data, size_t size) noexcept {
        size_t at = 0;
        while (at < size) {
            const void *nul = std::memchr(data + at, '\0', size - at);
            const size_t end = nul ? static_cast<size_t>(static_cast<const char *>(nul) - data) + 1 : size;
            const size_t from = at;
            at = end;
            if (skipping_) {
                skipping_ = nul == nullptr;
                continue;
            }
            std::vector<std::string> messages;
            try {
                messages = framer_.feed(data + from, end - from);
            } catch (...) {
                framer_.reset();
                skipping_ = nul == nullptr;
                continue;
            }
            // Every whole message goes to the host, also once asked to stop:
            // its sender was told it was delivered.
            for (const std::string &message : messages) {
                try {
                    task_.callback(message.c_str());
                } catch (...) {
                    // The host's own exception: the message was handed over.
                }
                if (message == task_.stopWord) return true;
            }
        }
        return false;
    }

    // The sender went away: a message it left half-written is dropped.
    void senderGone() {
        framer_.reset();
        skipping_ = false;
    }

private:
    PipeReaderTask &task_;
    MessageFramer framer_;
    bool skipping_ = false;
};

// Asked to stop: what the sender has already written into the pipe was
// reported to it as delivered, so it is read (without waiting: only the
// bytes the pipe holds) and handed over before the reader parks, for at
// most kDrainLimitMs. True when the stop word was among it.
bool drain(PipeReaderTask &task, Delivery &delivery, char *buffer) {
    HANDLE pipe = task.inPipe.get();
    const ULONGLONG deadline = GetTickCount64() + kDrainLimitMs;
    while (GetTickCount64() < deadline) {
        DWORD waiting = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr) || waiting == 0) return false;
        OVERLAPPED pending = {};
        pending.hEvent = task.ioDone.get();
        DWORD got = 0;
        const DWORD size = waiting < kBufferSize ? waiting : kBufferSize;
        if (!ReadFile(pipe, buffer, size, nullptr, &pending) && GetLastError() != ERROR_IO_PENDING) return false;
        // The bytes are there, so the read completes at once.
        if (!GetOverlappedResult(pipe, &pending, &got, TRUE) || got == 0) return false;
        if (delivery.deliver(buffer, got)) return true;
    }
    return false;
}

// Serves one sender after another until the stop word or the order to stop.
DWORD serve(PipeReaderTask &task) noexcept {
    try {
        Delivery delivery(task);
        char buffer[kBufferSize];
        DWORD retryMs = kRetryFirstMs;
        for (;;) {
            if (task.stopping) return kReaderStopped;
            const Step connected = waitForSender(task);
            if (connected == Step::Stopped) return kReaderStopped;
            if (connected == Step::Ready) {
                for (;;) {
                    DWORD got = 0;
                    const Step read = readSome(task, buffer, got);
                    if (got > 0 && delivery.deliver(buffer, got)) return kReaderStopWord;
                    if (read == Step::Stopped || task.stopping)
                        return drain(task, delivery, buffer) ? kReaderStopWord : kReaderStopped;
                    if (read == Step::Failed) break;
                }
                retryMs = kRetryFirstMs;
            } else if (task.pauseUnlessStopped(retryMs)) {
                return kReaderStopped;
            }
            // Closing and re-creating both pipes (rather than disconnecting
            // them) lets the next sender open them in either order.
            delivery.senderGone();
            while (!task.createPipes()) {
                if (task.pauseUnlessStopped(retryMs)) return kReaderStopped;
                retryMs = retryMs * 2 > kRetryLimitMs ? kRetryLimitMs : retryMs * 2;
            }
        }
    } catch (...) {
        return kReaderReadFailed;
    }
}

DWORD WINAPI readerMain(LPVOID parameter) {
    auto *task = static_cast<PipeReaderTask *>(parameter);
    if (!task) return kReaderNoTask;
    SetEvent(task->startedEvent.get());
    task->result = serve(*task);
    // The parking point: serve's objects are gone, no lock is held, no heap
    // operation is under way and the host's callback has returned. The thread
    // never ends by itself: an ending thread needs the loader lock, which an
    // unload of the library holds while it waits for this point; the owner
    // ends the thread by force instead.
    SetEvent(task->parkedEvent.get());
    for (;;) Sleep(INFINITE);
}

}  // namespace

PipeReader::PipeReader() = default;

PipeReader::~PipeReader() { stop(); }

bool PipeReader::start(const std::string &inPath, const std::string &outPath, std::string stopWord,
                       OrderCallback callback) {
    if (!callback || task_) return false;
    auto task = std::make_unique<PipeReaderTask>();
    task->inPath = inPath;
    task->outPath = outPath;
    task->stopWord = std::move(stopWord);
    task->callback = callback;
    if (!task->createEvents() || !task->createPipes()) return false;
    HANDLE thread = CreateThread(nullptr, 0, readerMain, task.get(), 0, &threadId_);
    if (!holdsHandle(thread)) return false;
    thread_.reset(thread);
    task_ = std::move(task);
    // Returns once the thread runs, so an unload right after the
    // registration finds it where it can be stopped.
    WaitForSingleObject(task_->startedEvent.get(), kStopLimitMs);
    return true;
}

bool PipeReader::send(const std::string &bytes, DWORD limitMs) {
    if (!task_) return false;
    ExclusiveLock guard(task_->lock);
    return boundedWrite(task_->outPipe.get(), task_->outEvent.get(), bytes, limitMs) == WriteResult::Written;
}

void PipeReader::stop() noexcept {
    if (!task_) return;
    task_->stopping = true;
    SetEvent(task_->stopEvent.get());
    const bool onReader = GetCurrentThreadId() == threadId_;
    if (!onReader && WaitForSingleObject(task_->parkedEvent.get(), kStopLimitMs) == WAIT_OBJECT_0) {
        // Parked: it holds nothing and runs nothing of the host's, so ending
        // it by force is safe, and needs no loader lock.
        TerminateThread(thread_.get(), kReaderStopped);
        WaitForSingleObject(thread_.get(), kStopLimitMs);
        thread_.reset();
        task_.reset();
        return;
    }
    // The reader is still inside the host's order function (or this is that
    // very call). Unmapping the library would pull the code from under it
    // when the function returns, so the library stays mapped for good and
    // the reader keeps its task; it parks as soon as the function returns.
    // Only the pipes are closed, so that a later load can receive again.
    pinModule();
    {
        ExclusiveLock guard(task_->lock);
        task_->inPipe.reset();
        task_->outPipe.reset();
    }
    static_cast<void>(task_.release());
    thread_.reset();
}

DWORD PipeReader::result() const { return task_ ? task_->result.load() : DWORD(kReaderNoTask); }

}  // namespace varnex
