#include "api/destination_steps.h"

#include "api/signal_texts.h"
#include "common/system_errors.h"
#include "output/line_files.h"
#include "pipe/pipe_texts.h"

namespace varnex {

std::string PipeStep::message() const { return pipeMessage(call().symbol, call().quantity, call().price); }

RelayOutcome PipeStep::relay(const std::string &message, LogBatch &log) {
    if (log.on()) log.add(checkSignalText(message));
    log.flush();
    return relay_.relay(message);
}

RelayOutcome PipeStep::skipped(const std::string &message, const std::string &downText) const {
    RelayOutcome outcome;
    outcome.log = {checkSignalText(message), callbackResultText(message, false),
                   pipeReasonText("not sent, " + downText)};
    return outcome;
}

std::string TcpStep::message() const { return tcpMessage(call().quantity, call().price); }

RelayOutcome TcpStep::relay(const std::string &message, LogBatch &log) {
    if (!route_) return noEndpointOutcome();
    // The exchange waits on the server: the lines before it are written first.
    log.flush();
    return relayOrder(*route_->endpoint, call().symbol, message, stop_);
}

RelayOutcome TcpStep::skipped(const std::string &, const std::string &downText) const {
    RelayOutcome outcome;
    outcome.log.push_back(call().symbol + ", " + label() + "\nnot sent: " + downText + "\n");
    return outcome;
}

std::string FileStep::label() const { return destinationName(kind()) + (" " + path()); }

std::string FileStep::message() const { return signalText(call().quantity, call().price); }

const std::string &FileStep::path() const {
    if (path_.empty())
        path_ = kind() == Destination::SignalFile
                    ? signalPath(driverName_.c_str(), call().symbol.c_str(), files_)
                    : signalDebugPath(driverName_.c_str(), call().symbol.c_str(), files_);
    return path_;
}

RelayOutcome FileStep::relay(const std::string &message, LogBatch &) {
    const FileWrite write = kind() == Destination::SignalFile
                                ? rewriteStampedLine(path(), ' ', message.c_str())
                                : debugFiles_->append(path(), ' ', &message, 1);
    RelayOutcome outcome;
    outcome.reached = write.written();
    if (!outcome.reached) {
        // A debug file's append asks for no day, so a miss is a system error.
        outcome.reason = systemErrorText(write.code);
        // Held by a reader: the file is busy for every signal until it is let go.
        outcome.down = write.busy();
        outcome.log.push_back(fileNotWrittenText(destinationName(kind()), path(), outcome.reason));
    }
    return outcome;
}

RelayOutcome FileStep::skipped(const std::string &, const std::string &downText) const {
    RelayOutcome outcome;
    outcome.log.push_back(fileNotWrittenText(destinationName(kind()), path(), downText));
    return outcome;
}

}  // namespace varnex
