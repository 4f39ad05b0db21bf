// The receiving end of the pipe pair: it creates both pipes and a reader
// that hands every received message to a callback.
#ifndef VARNEX_PIPE_PIPE_RECEIVER_H
#define VARNEX_PIPE_PIPE_RECEIVER_H

#include <windows.h>

#include <string>

#include "pipe/pipe_end.h"
#include "pipe/pipe_reader.h"
#include "varnex.h"

namespace varnex {

class PipeReceiver : public PipeEnd {
public:
    PipeReceiver() = default;
    ~PipeReceiver() { close(); }
    PipeReceiver(const PipeReceiver &) = delete;
    PipeReceiver &operator=(const PipeReceiver &) = delete;

    // Creates both pipes and starts the reader (a callback is required).
    // A receiver has at most one reader in its life: once an open has
    // succeeded, every later open fails, also after the stop word.
    bool open(std::string stopWord, OrderCallback callback);
    // Closes the pipes and stops the reader; afterwards the receiver holds
    // nothing. Safe under the loader lock and on any thread.
    void close() noexcept { reader_.stop(); }

    // Why the reader stopped serving; for tests.
    ReaderExit readerResult() const { return reader_.result(); }

private:
    PipeReader reader_;
};

}  // namespace varnex

#endif
