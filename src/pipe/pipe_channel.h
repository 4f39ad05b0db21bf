// One end of the one-way pipe pair <base>_IN / <base>_OUT. The server end
// creates the pipes and a reader that hands every received message to a
// callback; the client end opens them and sends.
#ifndef VARNEX_PIPE_PIPE_CHANNEL_H
#define VARNEX_PIPE_PIPE_CHANNEL_H

#include <windows.h>

#include <string>

#include "common/handles.h"
#include "pipe/pipe_io.h"
#include "pipe/pipe_names.h"
#include "pipe/pipe_reader.h"
#include "varnex.h"

namespace varnex {

class PipeChannel {
public:
    // How long a send may wait for a receiver that does not read.
    static constexpr DWORD kSendLimitMs = 2000;
    // How long a client that holds no connection waits for a receiver that
    // is busy taking leave of its previous sender.
    static constexpr DWORD kBusyWaitMs = 500;

    PipeChannel();
    virtual ~PipeChannel();
    PipeChannel(const PipeChannel &) = delete;
    PipeChannel &operator=(const PipeChannel &) = delete;

    void configure(std::string pipeName, std::string hostName);
    std::string pipePath(bool in) const;
    // Server: create both pipes and start the reader (a callback is required).
    // A channel has at most one reader in its life: once a server open has
    // succeeded, every later server open fails, also after the stop word.
    // Client: open both pipes; an open that fails keeps an earlier connection.
    bool open(bool serverMode, std::string stopWord, OrderCallback callback);
    // Writes text + NUL; true only when all of it was written within
    // `limitMs` (at most kSendLimitMs on the server side).
    bool send(std::string text, DWORD limitMs = kSendLimitMs);
    // Closes the pipes and stops the reader; afterwards the channel holds
    // nothing. Safe under the loader lock and on any thread.
    void close() noexcept;

    // Client side: holds an opened pipe pair (which may since have broken).
    bool isConnected() const { return static_cast<bool>(writeHandle); }
    // Client side: one attempt to open both pipes, without waiting; the
    // system's error when it fails (ERROR_PIPE_BUSY: held by a sender, or
    // not yet let go by the receiver; ERROR_FILE_NOT_FOUND: no receiver, or
    // one between two senders). A success replaces an earlier connection.
    DWORD openOnce();
    // Client side: lets the connection go.
    void disconnect() noexcept;
    // Client side: how the last send ended.
    WriteResult lastWrite() const { return lastWrite_; }
    // Client side: the last send failed because the receiver did not read.
    bool sendTimedOut() const {
        return lastWrite_ == WriteResult::TimedOut || lastWrite_ == WriteResult::NotTaken;
    }
    // Client side: the system's error of the last failed send.
    DWORD sendError() const { return sendError_; }

    // Why the reader stopped serving; for tests.
    ReaderExit readerResult() const { return reader.result(); }

private:
    bool openClient();

    bool serverMode;
    std::string pipeName;
    std::string hostName;
    std::string basePath;
    UniqueHandle writeHandle;
    UniqueHandle readHandle;
    UniqueHandle sendDone;  // event for the bounded client-side write
    WriteResult lastWrite_ = WriteResult::Written;
    DWORD sendError_ = ERROR_SUCCESS;
    PipeReader reader;
};

}  // namespace varnex

#endif
