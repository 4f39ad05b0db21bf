#include "pipe/pipe_io.h"

#include "common/counts.h"
#include "common/handles.h"

namespace varnex {

namespace {

constexpr DWORD kBufferSize = 1024;
constexpr DWORD kDefaultTimeoutMs = 120000;

}  // namespace

HANDLE createPipe(const std::string &path, DWORD access) {
    // The default security lets only the creating user and administrators open the pipe.
    const DWORD inBuffer = access == PIPE_ACCESS_INBOUND ? 0 : kBufferSize;
    return CreateNamedPipeA(path.c_str(), access | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                            kBufferSize, inBuffer, kDefaultTimeoutMs, nullptr);
}

HANDLE createEvent() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }

WriteResult boundedWrite(HANDLE pipe, HANDLE event, const std::string &bytes, DWORD limitMs) {
    if (!holdsHandle(pipe) || !holdsHandle(event)) return WriteResult::Failed;
    // The system resets the OVERLAPPED's event when the request starts.
    OVERLAPPED pending = {};
    pending.hEvent = event;
    const DWORD size = clampToUint32(bytes.size());
    DWORD written = 0;
    // A pipe with room takes the bytes at once: then the count is final and
    // there is nothing to wait for.
    if (WriteFile(pipe, bytes.data(), size, &written, &pending))
        return written == bytes.size() ? WriteResult::Written : WriteResult::Failed;
    if (GetLastError() != ERROR_IO_PENDING) return WriteResult::Failed;
    bool gaveUp = false;
    if (WaitForSingleObject(event, limitMs) != WAIT_OBJECT_0) gaveUp = CancelIoEx(pipe, &pending) != FALSE;
    const bool done = GetOverlappedResult(pipe, &pending, &written, TRUE) != FALSE;
    if (done && written == bytes.size()) return WriteResult::Written;
    if (!gaveUp) return WriteResult::Failed;
    return written == 0 ? WriteResult::NotTaken : WriteResult::TimedOut;
}

}  // namespace varnex
