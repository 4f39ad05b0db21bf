#include "pipe/pipe_reader.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/handles.h"
#include "common/locks.h"
#include "lifetime/detached_call.h"
#include "lifetime/library_thread.h"
#include "pipe/message_framing.h"
#include "pipe/pipe_io.h"
#include "pipe/pipe_names.h"

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

}  // namespace

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
    // will never use them again (PipeReader::stop). A server-side send
    // takes its own handle of the "_OUT" pipe under it. Nothing waits on a
    // peer while holding it.
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
    std::atomic<DWORD> result{STILL_ACTIVE};
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

namespace {

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
            } else {
                retryMs = retryMs * 2 > kRetryLimitMs ? kRetryLimitMs : retryMs * 2;
            }
            delivery.senderGone();
            task.disconnect();
        }
    } catch (...) {
        return kReaderReadFailed;
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
    if (!task->createEvents() || !task->claimAndCreatePipes()) return false;
    PipeReaderTask *const started = task.get();
    if (!thread_.start(std::move(task))) return false;
    task_ = started;
    // Returns once the thread runs, so an unload right after the
    // registration finds it where it can be stopped.
    thread_.confirmStarted(kStopLimitMs);
    return true;
}

bool PipeReader::send(const std::string &bytes, DWORD limitMs) {
    if (!task_) return false;
    // The write may wait on the peer: it goes through a handle of its own,
    // taken under the lock, so the lock is never held across it.
    HANDLE own = nullptr;
    {
        ExclusiveLock guard(task_->lock);
        if (!task_->outPipe || !DuplicateHandle(GetCurrentProcess(), task_->outPipe.get(),
                                                GetCurrentProcess(), &own, 0, FALSE, DUPLICATE_SAME_ACCESS))
            return false;
    }
    UniqueHandle out(own), done(createEvent());
    return boundedWrite(out.get(), done.get(), bytes, limitMs) == WriteResult::Written;
}

void PipeReader::stop() noexcept {
    if (!task_) return;
    task_->stopping = true;
    SetEvent(task_->stopEvent.get());
    // Still inside the host's order function (or this is that very call),
    // the thread is detached, and its task freed: the pipes and the claim go
    // now, and the module may go too. The function was handed a message
    // that the thread's own frames hold, nothing of the task. A pinned
    // reader keeps its task, and releases the pipes and the claim itself as
    // it ends.
    thread_.stop(kStopLimitMs, &task_->call);
    task_ = nullptr;
}

DWORD PipeReader::result() const { return task_ ? task_->result.load() : DWORD(kReaderNoTask); }

}  // namespace varnex
