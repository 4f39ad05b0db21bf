// The sending end of the pipe pair: it opens both pipes that a receiver
// created and writes messages to the "_IN" pipe, each write bounded.
#ifndef VARNEX_PIPE_PIPE_SENDER_H
#define VARNEX_PIPE_PIPE_SENDER_H

#include <windows.h>

#include <string>

#include "common/handles.h"
#include "pipe/pipe_end.h"
#include "pipe/pipe_io.h"

namespace varnex {

class PipeSender : public PipeEnd {
public:
    // How long a send may wait for a receiver that does not read.
    static constexpr DWORD kSendLimitMs = 2000;
    // How long a sender that holds no connection waits for a receiver that
    // is busy taking leave of its previous sender.
    static constexpr DWORD kBusyWaitMs = 500;

    PipeSender() = default;
    ~PipeSender() { close(); }
    PipeSender(const PipeSender &) = delete;
    PipeSender &operator=(const PipeSender &) = delete;

    // Opens both pipes; an open that fails keeps an earlier connection.
    bool open();
    // One attempt to open both pipes, without waiting; the system's error
    // when it fails (ERROR_PIPE_BUSY: held by a sender, or not yet let go by
    // the receiver; ERROR_FILE_NOT_FOUND: no receiver, or one between two
    // senders). A success replaces an earlier connection.
    DWORD openOnce();
    // Writes text + NUL; true only when all of it was written within `limitMs`.
    bool send(std::string text, DWORD limitMs = kSendLimitMs);
    // Lets the connection go.
    void disconnect() noexcept;
    // Closes the pipes; afterwards the sender holds nothing. Safe under the
    // loader lock and on any thread.
    void close() noexcept;

    // Holds an opened pipe pair (which may since have broken).
    bool isConnected() const { return static_cast<bool>(writeHandle_); }
    // How the last send ended.
    WriteResult lastWrite() const { return lastWrite_; }
    // The last send failed because the receiver did not read.
    bool sendTimedOut() const {
        return lastWrite_ == WriteResult::TimedOut || lastWrite_ == WriteResult::NotTaken;
    }
    // The system's error of the last failed send.
    DWORD sendError() const { return sendError_; }

private:
    UniqueHandle writeHandle_;
    UniqueHandle readHandle_;
    UniqueHandle sendDone_;  // event for the bounded write
    WriteResult lastWrite_ = WriteResult::Written;
    DWORD sendError_ = ERROR_SUCCESS;
};

}  // namespace varnex

#endif
