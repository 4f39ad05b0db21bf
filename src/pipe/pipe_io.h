// The Win32 pipe calls both ends share: creating a pipe of the pair, and a
// write that cannot hold its caller when the peer stops reading.
#ifndef VARNEX_PIPE_PIPE_IO_H
#define VARNEX_PIPE_PIPE_IO_H

#include <windows.h>

#include <string>

namespace varnex {

// One end of the pair, created for overlapped I/O: byte mode, one instance,
// local callers only. The "_OUT" pipe has 1024-byte buffers. The "_IN" pipe,
// which carries the orders, has no input buffer: a sender's write completes
// only once the reader has taken its bytes, so a write reported as done can
// never be lost in a buffer that a receiver closes at its unload.
HANDLE createPipe(const std::string &path, DWORD access);
// A manual-reset event, not set.
HANDLE createEvent();

enum class WriteResult {
    Written,   // every byte
    NotTaken,  // given up before the reader took a byte: the pipe is as it was
    TimedOut,  // given up after the reader took part of the bytes
    Failed,
};

// One overlapped write of all of `bytes` that gives up after `limitMs` (the
// reader does not read). Written only when every byte was written.
WriteResult boundedWrite(HANDLE pipe, HANDLE event, const std::string &bytes, DWORD limitMs);

}  // namespace varnex

#endif
