#include "pipe/pipe_channel.h"

#include "pipe/pipe_io.h"

namespace varnex {

PipeChannel::PipeChannel() : serverMode(false), hostName("."), basePath(pipeBasePath("", ".")) {}

PipeChannel::~PipeChannel() { close(); }

void PipeChannel::close() noexcept {
    writeHandle.reset();
    readHandle.reset();
    sendDone.reset();
    reader.stop();
}

void PipeChannel::configure(std::string name, std::string host) {
    pipeName = std::move(name);
    hostName = std::move(host);
    basePath = pipeBasePath(pipeName, hostName);
}

std::string PipeChannel::pipePath(bool in) const { return varnex::pipePath(basePath, in); }

bool PipeChannel::open(bool server, std::string stopWord, OrderCallback callback) {
    serverMode = server;
    if (!serverMode) return openClient();
    return reader.start(pipePath(true), pipePath(false), std::move(stopWord), callback);
}

DWORD PipeChannel::openOnce() {
    UniqueHandle newRead(CreateFileA(pipePath(false).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!newRead) return GetLastError();
    UniqueHandle newWrite(CreateFileA(pipePath(true).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
    if (!newWrite) return GetLastError();
    readHandle = std::move(newRead);
    writeHandle = std::move(newWrite);
    return ERROR_SUCCESS;
}

void PipeChannel::disconnect() noexcept {
    writeHandle.reset();
    readHandle.reset();
}

bool PipeChannel::openClient() {
    // While our earlier connection lives, the single instances are ours and
    // opening fails at once; that connection stays in use. Without one, a
    // receiver whose previous sender just went answers "busy" (and then,
    // briefly, "no such pipe") until its reader has fresh pipes ready; that
    // short wait is bounded.
    const ULONGLONG deadline = GetTickCount64() + (writeHandle ? 0 : kBusyWaitMs);
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

bool PipeChannel::send(std::string text, DWORD limitMs) {
    text.push_back('\0');
    if (serverMode && reader.started()) return reader.send(text, kSendLimitMs);
    if (!sendDone) sendDone.reset(createEvent());
    SetLastError(ERROR_SUCCESS);
    const WriteResult result = boundedWrite(writeHandle.get(), sendDone.get(), text, limitMs);
    lastWrite_ = result;
    sendError_ = result == WriteResult::Written ? ERROR_SUCCESS : GetLastError();
    if (result == WriteResult::Failed && sendError_ == ERROR_SUCCESS) sendError_ = ERROR_WRITE_FAULT;
    return result == WriteResult::Written;
}

}  // namespace varnex
