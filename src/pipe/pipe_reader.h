// The receiving end's reader: a thread that serves one sender after another
// on the pipe pair and hands every whole message to the host's callback.
// Who owns it can stop it at any time, also from inside the loader lock.
#ifndef VARNEX_PIPE_PIPE_READER_H
#define VARNEX_PIPE_PIPE_READER_H

#include <windows.h>

#include <string>

#include "lifetime/library_thread.h"
#include "varnex.h"

namespace varnex {

struct PipeReaderTask;

// Why a reader stopped serving.
enum class ReaderExit { Serving, StopWord, NoTask, ReadFailed, Stopped };

class PipeReader {
public:
    // How long stop() waits for the reader to leave the host's callback.
    static constexpr DWORD kStopLimitMs = 2000;

    PipeReader();
    ~PipeReader();
    PipeReader(const PipeReader &) = delete;
    PipeReader &operator=(const PipeReader &) = delete;

    // Creates both pipes and starts the thread; returns once it runs. A
    // reader starts at most once in its life.
    bool start(const std::string &inPath, const std::string &outPath, std::string stopWord,
               OrderCallback callback);
    bool started() const { return task_ != nullptr; }
    // Closes the pipes and ends the thread. A thread still inside the host's
    // callback after kStopLimitMs (or this very call, made from the
    // callback) is left to return from it, and ends there, outside this
    // module (lifetime/library_thread.h).
    void stop() noexcept;
    ReaderExit result() const;

private:
    PipeReaderTask *task_ = nullptr;  // owned by thread_ from the start to the stop
    LibraryThread thread_;
};

}  // namespace varnex

#endif
