// Splits the byte stream of a pipe into NUL-terminated messages. Bytes after
// the last NUL of a read wait for the next read, so a message that straddles
// two reads arrives whole.
#ifndef VARNEX_PIPE_MESSAGE_FRAMING_H
#define VARNEX_PIPE_MESSAGE_FRAMING_H

#include <cstddef>
#include <string>
#include <vector>

namespace varnex {

class MessageFramer {
public:
    // A run without any NUL longer than this is handed on as it stands, so a
    // peer that never terminates cannot make the reader grow without bound.
    static constexpr size_t kMaxPending = 64 * 1024;

    // The messages completed by these bytes, in order, without their NULs.
    std::vector<std::string> feed(const char *data, size_t size);
    // Drops an unfinished message (its sender went away part-way).
    void reset() { pending_.clear(); }
    size_t pendingSize() const { return pending_.size(); }

private:
    std::string pending_;
};

}  // namespace varnex

#endif
