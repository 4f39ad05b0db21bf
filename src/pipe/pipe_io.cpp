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
    return CreateNamedPipeA(path.c_str(), access | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                            kBufferSize, kBufferSize, kDefaultTimeoutMs, nullptr);
}

HANDLE createEvent() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }

bool boundedWrite(HANDLE pipe, HANDLE event, const std::string &bytes, DWORD limitMs) {
    if (!holdsHandle(pipe) || !holdsHandle(event)) return false;
    // The system resets the OVERLAPPED's event when the request starts.
    OVERLAPPED pending = {};
    pending.hEvent = event;
    const DWORD size = clampToUint32(bytes.size());
    DWORD written = 0;
    if (!WriteFile(pipe, bytes.data(), size, nullptr, &pending)) {
        if (GetLastError() != ERROR_IO_PENDING) return false;
        if (WaitForSingleObject(event, limitMs) != WAIT_OBJECT_0) CancelIoEx(pipe, &pending);
    }
    if (!GetOverlappedResult(pipe, &pending, &written, TRUE)) return false;
    return written == bytes.size();
}

}  // namespace varnex
