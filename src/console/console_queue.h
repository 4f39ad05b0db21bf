// The queue between the threads that produce console lines and the one
// thread that writes them. Pure (no Win32 types), so its bound and its
// account of dropped lines are unit-tested without a console.
#ifndef VARNEX_CONSOLE_CONSOLE_QUEUE_H
#define VARNEX_CONSOLE_CONSOLE_QUEUE_H

#include <cstddef>
#include <deque>
#include <string>

namespace varnex {

enum class ConsoleStream { Output, Error };

struct ConsoleLine {
    ConsoleStream stream = ConsoleStream::Error;
    std::string text;
};

// What the writer says in place of lines it had to drop: standard error,
// "varnex: N console lines dropped" ("1 console line") and CR LF.
std::string droppedLinesNotice(unsigned long long lines);

// How many console lines a text is: its line ends, and a last line without
// one counts too.
unsigned long long consoleLinesIn(const std::string &text);

// First in, first out, bounded by entries and by bytes, so that a console
// nobody drains costs a fixed amount of memory. Not thread-safe: its owner
// holds a lock around every call.
class ConsoleQueue {
public:
    // A console line is about 80 bytes: the byte bound is the one that
    // usually applies, the entry bound caps the cost of many short ones.
    static constexpr std::size_t kMaxEntries = 1024;
    static constexpr std::size_t kMaxBytes = 64 * 1024;

    explicit ConsoleQueue(std::size_t maxEntries = kMaxEntries, std::size_t maxBytes = kMaxBytes)
        : maxEntries_(maxEntries), maxBytes_(maxBytes) {}

    // Queues `text` (one or more whole lines), or drops it whole when it
    // does not fit, counting its lines. True when queued.
    bool push(ConsoleStream stream, std::string text) noexcept;
    // The next line to write; false when there is none. Where lines were
    // dropped, the notice of how many comes first, at the place of the gap.
    bool pop(ConsoleLine &line);
    // Lines dropped since the queue was made.
    unsigned long long droppedLines() const { return droppedTotal_; }

private:
    struct Entry {
        ConsoleLine line;
        unsigned long long droppedBefore;  // lines dropped just before this one was queued
    };

    std::size_t maxEntries_;
    std::size_t maxBytes_;
    std::deque<Entry> entries_;
    std::size_t bytes_ = 0;
    unsigned long long droppedSinceLast_ = 0;  // dropped after the last queued line
    unsigned long long droppedTotal_ = 0;
};

}  // namespace varnex

#endif
