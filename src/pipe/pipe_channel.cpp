#include "pipe/pipe_channel.h"

#include <atomic>

#include "common/locks.h"
#include "pipe/message_framing.h"

namespace varnex {

namespace {

constexpr DWORD kBufferSize = 1024;
constexpr DWORD kDefaultTimeoutMs = 120000;
constexpr DWORD kIdlePauseMs = 10;
constexpr DWORD kStopLimitMs = 2000;

HANDLE createPipe(const std::string &path, DWORD access) {
    // Local callers only; the default security lets only the creating user
    // and administrators open the pipe.
    return CreateNamedPipeA(path.c_str(), access | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                            kBufferSize, kBufferSize, kDefaultTimeoutMs, nullptr);
}

// The system resets an OVERLAPPED's event when the request starts, so the
// events are not reset here.

// One overlapped write that gives up after `limitMs`, so a receiver that no
// longer reads cannot hold the sender's thread. A cancelled write delivers nothing.
bool boundedWrite(HANDLE pipe, HANDLE event, const std::string &bytes, DWORD limitMs) {
    if (!holdsHandle(pipe) || !holdsHandle(event)) return false;
    OVERLAPPED pending = {};
    pending.hEvent = event;
    const DWORD size = static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(pipe, bytes.data(), size, nullptr, &pending)) {
        if (GetLastError() != ERROR_IO_PENDING) return false;
        if (WaitForSingleObject(event, limitMs) != WAIT_OBJECT_0) CancelIoEx(pipe, &pending);
    }
    if (!GetOverlappedResult(pipe, &pending, &written, TRUE)) return false;
    return written == size;
}

// The loaded library stays mapped from the first reader on, so a host's
// FreeLibrary cannot pull the code from under a running thread.
void pinModule() {
    HMODULE self;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&pinModule), &self);
}

}  // namespace

// Shared by the channel and its reader thread. In server mode the task owns
// the pipe pair, because the reader offers fresh pipes when a sender goes.
struct PipeReaderTask {
    std::string inPath;
    std::string outPath;
    std::string stopWord;
    OrderCallback callback = nullptr;
    SRWLOCK lock = SRWLOCK_INIT;  // guards the pipe handles against a server-side send
    UniqueHandle inPipe;
    UniqueHandle outPipe;
    UniqueHandle outEvent;
    std::atomic<bool> stopping{false};

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
    bool stopRequested() const { return stopping.load(); }
};

namespace {

// Reads with an overlapped request on the reader's own event, so the
// channel's destructor can cancel it; returns false and sets the error as
// ReadFile would.
bool readSome(HANDLE pipe, HANDLE event, char *buffer, DWORD &got) {
    OVERLAPPED pending = {};
    pending.hEvent = event;
    got = 0;
    if (!ReadFile(pipe, buffer, kBufferSize, nullptr, &pending) && GetLastError() != ERROR_IO_PENDING) return false;
    return GetOverlappedResult(pipe, &pending, &got, TRUE) != FALSE;
}

DWORD WINAPI readerMain(LPVOID parameter) {
    if (!parameter) return kReaderNoTask;
    std::unique_ptr<std::shared_ptr<PipeReaderTask>> holder(static_cast<std::shared_ptr<PipeReaderTask> *>(parameter));
    PipeReaderTask &task = **holder;
    UniqueHandle readDone(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    MessageFramer framer;
    char buffer[kBufferSize];
    while (!task.stopRequested()) {
        DWORD got = 0;
        const bool ok = readSome(task.inPipe.get(), readDone.get(), buffer, got);
        const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        if (got > 0) {
            for (const std::string &message : framer.feed(buffer, got)) {
                if (task.stopRequested()) return kReaderStopped;
                task.callback(message.c_str());
                if (message == task.stopWord) return kReaderStopWord;
            }
            if (!ok) return kReaderReadFailed;
            continue;  // more may be waiting: read again at once
        }
        if (task.stopRequested()) break;
        if (error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA) {
            // The sender went away; an order it left half-written is dropped,
            // and a new sender gets fresh pipes.
            framer.reset();
            while (!task.createPipes() && !task.stopRequested()) Sleep(kIdlePauseMs);
            continue;
        }
        // No sender yet (or another passing failure): try again shortly.
        Sleep(kIdlePauseMs);
    }
    return kReaderStopped;
}

}  // namespace

PipeChannel::PipeChannel() : serverMode(false), hostName("."), basePath("\\\\.\\pipe\\"), readerThreadId(0) {}

PipeChannel::~PipeChannel() {
    writeHandle.reset();
    readHandle.reset();
    if (readerThread && task) {
        task->stopping = true;
        // Cancel the blocked read until the reader notices; a reader stuck in
        // the host's callback is ended by force only after the limit.
        const ULONGLONG deadline = GetTickCount64() + kStopLimitMs;
        while (WaitForSingleObject(readerThread.get(), 0) == WAIT_TIMEOUT) {
            if (GetTickCount64() >= deadline) {
                TerminateThread(readerThread.get(), kReaderStopped);
                WaitForSingleObject(readerThread.get(), INFINITE);
                break;
            }
            {
                ExclusiveLock guard(task->lock);
                if (task->inPipe) CancelIoEx(task->inPipe.get(), nullptr);
            }
            WaitForSingleObject(readerThread.get(), 20);
        }
    }
}

void PipeChannel::configure(std::string name, std::string host) {
    pipeName = std::move(name);
    hostName = std::move(host);
    basePath = "\\\\";
    basePath += hostName;
    basePath += "\\pipe\\";
    basePath += pipeName;
}

std::string PipeChannel::pipePath(bool in) const { return basePath + (in ? "_IN" : "_OUT"); }

bool PipeChannel::open(bool server, std::string stopWord, OrderCallback callback) {
    serverMode = server;
    if (serverMode) {
        if (!callback) return false;
        auto newTask = std::make_shared<PipeReaderTask>();
        newTask->inPath = pipePath(true);
        newTask->outPath = pipePath(false);
        newTask->stopWord = std::move(stopWord);
        newTask->callback = callback;
        newTask->outEvent.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        if (!newTask->createPipes()) return false;
        pinModule();
        auto *parameter = new std::shared_ptr<PipeReaderTask>(newTask);
        HANDLE thread = CreateThread(nullptr, 0, readerMain, parameter, 0, &readerThreadId);
        if (!holdsHandle(thread)) {
            delete parameter;
            return false;
        }
        // An earlier reader (of an earlier successful open) keeps its own task.
        readerThread.reset(thread);
        task = std::move(newTask);
        return true;
    }
    // Client: while our earlier connection lives, the single instances are
    // ours and opening fails; that connection stays in use.
    UniqueHandle newRead(CreateFileA(pipePath(false).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!newRead) return false;
    UniqueHandle newWrite(CreateFileA(pipePath(true).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
    if (!newWrite) return false;
    readHandle = std::move(newRead);
    writeHandle = std::move(newWrite);
    return true;
}

bool PipeChannel::send(std::string text) {
    text.push_back('\0');
    if (serverMode && task) {
        ExclusiveLock guard(task->lock);
        return boundedWrite(task->outPipe.get(), task->outEvent.get(), text, kSendLimitMs);
    }
    if (!sendDone) sendDone.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    return boundedWrite(writeHandle.get(), sendDone.get(), text, kSendLimitMs);
}

DWORD PipeChannel::readerExitCode() const {
    DWORD code = 0;
    if (!readerThread || !GetExitCodeThread(readerThread.get(), &code)) return 0;
    return code;
}

}  // namespace varnex
