// The reader thread's serve loop: one sender after another, every whole
// message to the host's order function, until the stop word or the order
// to stop.
#include <cstring>
#include <string>
#include <vector>

#include "pipe/message_framing.h"
#include "pipe/pipe_reader.h"
#include "pipe/reader_task.h"

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

enum class Step { Ready, Failed, Stopped };

// Waits for one of the reader's overlapped requests on `pipe`, or for the
// order to stop; a request still pending then is cancelled and its end
// awaited, so no request outlives its buffer. `done` gets what a request
// transferred, also one that completed as it was being cancelled: a sender
// was told those bytes were taken.
Step awaitRequest(PipeReaderTask &task, HANDLE pipe, OVERLAPPED &pending, DWORD &done) {
    HANDLE events[2] = {task.ioDone.get(), task.stopEvent.get()};
    done = 0;
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0)
        return GetOverlappedResult(pipe, &pending, &done, FALSE) ? Step::Ready : Step::Failed;
    CancelIoEx(pipe, &pending);
    GetOverlappedResult(pipe, &pending, &done, TRUE);
    return Step::Stopped;
}

// Sleeps until a sender has opened the pipes: a read on a pipe nobody has
// opened fails at once, an overlapped ConnectNamedPipe waits.
Step waitForSender(PipeReaderTask &task) {
    HANDLE pipe = task.inPipe.get();
    OVERLAPPED pending = {};
    pending.hEvent = task.ioDone.get();
    const BOOL connected = ConnectNamedPipe(pipe, &pending);
    const DWORD error = connected ? ERROR_PIPE_CONNECTED : GetLastError();
    task.offerOut();
    switch (error) {
        case ERROR_PIPE_CONNECTED:
        case ERROR_NO_DATA:  // came and went already; what it wrote is still to be read
            return Step::Ready;
        case ERROR_IO_PENDING:
            break;
        default:
            return Step::Failed;
    }
    DWORD ignored = 0;
    const Step step = awaitRequest(task, pipe, pending, ignored);
    if (step != Step::Failed) return step;
    const DWORD failure = GetLastError();
    return failure == ERROR_PIPE_CONNECTED || failure == ERROR_NO_DATA ? Step::Ready : Step::Failed;
}

// One read; `got` holds what arrived even when the read then failed or was
// cancelled by the order to stop.
Step readSome(PipeReaderTask &task, char *buffer, DWORD &got) {
    HANDLE pipe = task.inPipe.get();
    OVERLAPPED pending = {};
    pending.hEvent = task.ioDone.get();
    got = 0;
    if (ReadFile(pipe, buffer, kBufferSize, &got, &pending)) return Step::Ready;
    if (GetLastError() != ERROR_IO_PENDING) return Step::Failed;
    return awaitRequest(task, pipe, pending, got);
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
                    task_.call.callOrderFunction(task_.callback, message.c_str());
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

// Asked to stop: a sender whose write is waiting in the pipe is served
// still (reading completes its write, and the order goes to the host),
// until the pipe is empty, for at most kDrainLimitMs. A write not read by
// then fails when the pipes close: its sender is not told it was taken.
// True when the stop word was among it.
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
        if (!ReadFile(pipe, buffer, size, nullptr, &pending) && GetLastError() != ERROR_IO_PENDING)
            return false;
        // The bytes are there, so the read completes at once.
        if (!GetOverlappedResult(pipe, &pending, &got, TRUE) || got == 0) return false;
        if (delivery.deliver(buffer, got)) return true;
    }
    return false;
}

// Serves one sender after another until the stop word or the order to stop.
ReaderExit serve(PipeReaderTask &task) noexcept {
    try {
        Delivery delivery(task);
        char buffer[kBufferSize];
        DWORD retryMs = kRetryFirstMs;
        for (;;) {
            if (task.stopping) return ReaderExit::Stopped;
            const Step connected = waitForSender(task);
            if (connected == Step::Stopped) return ReaderExit::Stopped;
            if (connected == Step::Ready) {
                for (;;) {
                    DWORD got = 0;
                    const Step read = readSome(task, buffer, got);
                    if (got > 0 && delivery.deliver(buffer, got)) return ReaderExit::StopWord;
                    if (read == Step::Stopped || task.stopping)
                        return drain(task, delivery, buffer) ? ReaderExit::StopWord : ReaderExit::Stopped;
                    if (read == Step::Failed) break;
                }
                retryMs = kRetryFirstMs;
            } else if (task.pauseUnlessStopped(retryMs)) {
                return ReaderExit::Stopped;
            } else {
                retryMs = retryMs * 2 > kRetryLimitMs ? kRetryLimitMs : retryMs * 2;
            }
            delivery.senderGone();
            task.disconnect();
        }
    } catch (...) {
        return ReaderExit::ReadFailed;
    }
}

}  // namespace

// The reader's thread: the host's callback is behind it for good when it
// returns, and its thread parks (lifetime/library_thread.h).
void PipeReaderTask::run() noexcept {
    result = serve(*this);
    // The receiver has ended (the stop word, or the order to stop): another
    // may take over at once.
    release();
}

}  // namespace varnex
