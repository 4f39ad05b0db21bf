// Lines for the host's console. A standard handle may block a writer for as
// long as nobody drains it (a pipe nobody reads, a console window paused by
// a mouse selection), so host threads only queue their lines; one thread of
// the library, started on first use, writes them with WriteFile on the
// standard handles (not through the C runtime's streams, whose lock every
// printing thread of the host shares).
#ifndef VARNEX_CONSOLE_CONSOLE_H
#define VARNEX_CONSOLE_CONSOLE_H

#include <string>

#include "console/console_queue.h"

namespace varnex {

// Queues `text` as it stands (the caller puts in its own CR LF) and returns
// at once. Lines of one thread keep their order. While the writer is held,
// up to ConsoleQueue's bound waits; beyond it lines are dropped and counted,
// and the writer says how many once it can write again. A host without a
// console has no standard handle, and then nothing is queued.
void writeConsole(ConsoleStream stream, const std::string &text) noexcept;

// At unload, under the loader lock: what is queued is written for up to
// kConsoleFlushLimitMs, then a write that still blocks is cancelled and the
// rest dropped; the writer ends from its parking point. A writer stuck in a
// write it cannot leave is let go, and ends when the write returns, outside
// this module (see library_lifetime.cpp).
constexpr unsigned long kConsoleFlushLimitMs = 500;
void stopConsoleWriter() noexcept;

}  // namespace varnex

#endif
