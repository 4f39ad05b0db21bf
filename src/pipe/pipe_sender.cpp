#include "pipe/pipe_sender.h"

namespace varnex {

void PipeSender::close() noexcept {
    disconnect();
    sendDone_.reset();
}

DWORD PipeSender::openOnce() {
    UniqueHandle newRead(CreateFileA(pipePath(false).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!newRead) return GetLastError();
    UniqueHandle newWrite(CreateFileA(pipePath(true).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
    if (!newWrite) return GetLastError();
    readHandle_ = std::move(newRead);
    writeHandle_ = std::move(newWrite);
    return ERROR_SUCCESS;
}

void PipeSender::disconnect() noexcept {
    writeHandle_.reset();
    readHandle_.reset();
}

bool PipeSender::open() {
    // While our earlier connection lives, the single instances are ours and
    // opening fails at once; that connection stays in use. Without one, a
    // receiver whose previous sender just went answers "busy" (and then,
    // briefly, "no such pipe") until its reader has fresh pipes ready; that
    // short wait is bounded.
    const ULONGLONG deadline = GetTickCount64() + (writeHandle_ ? 0 : kBusyWaitMs);
    bool sawBusy = false;
    for (;;) {
        const DWORD error = openOnce();
        if (error == ERROR_SUCCESS) return true;
        if (error == ERROR_PIPE_BUSY)
            sawBusy = true;
        else if (!(sawBusy && error == ERROR_FILE_NOT_FOUND))
            return false;
        if (GetTickCount64() >= deadline) return false;
        Sleep(1);
    }
}

bool PipeSender::send(std::string text, DWORD limitMs) {
    text.push_back('\0');
    if (!sendDone_) sendDone_.reset(createEvent());
    SetLastError(ERROR_SUCCESS);
    const WriteResult result = boundedWrite(writeHandle_.get(), sendDone_.get(), text, limitMs);
    lastWrite_ = result;
    sendError_ = result == WriteResult::Written ? ERROR_SUCCESS : GetLastError();
    if (result == WriteResult::Failed && sendError_ == ERROR_SUCCESS) sendError_ = ERROR_WRITE_FAULT;
    return result == WriteResult::Written;
}

}  // namespace varnex
