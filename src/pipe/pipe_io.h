// The Win32 pipe calls both ends share: creating a pipe of the pair, and a
// write that cannot hold its caller when the peer stops reading.
#ifndef VARNEX_PIPE_PIPE_IO_H
#define VARNEX_PIPE_PIPE_IO_H

#include <windows.h>

#include <string>

namespace varnex {

// One end of the pair, created for overlapped I/O: byte mode, one instance,
// 1024-byte buffers, local callers only.
HANDLE createPipe(const std::string &path, DWORD access);
// A manual-reset event, not set.
HANDLE createEvent();

// One overlapped write of all of `bytes` that gives up after `limitMs`; a
// write given up on delivers nothing. True only when every byte was written.
bool boundedWrite(HANDLE pipe, HANDLE event, const std::string &bytes, DWORD limitMs);

}  // namespace varnex

#endif
