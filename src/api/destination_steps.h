// The destinations of one signal, each an object that knows what it is
// called, what it is sent, how it is reached, what the log says when it is
// skipped, and the health that decides when it is tried: the order pipe's
// receiver, the symbol's TCP server, its signal file and its debug file. The
// pipeline is a loop over them that never asks which kind it holds.
#ifndef VARNEX_API_DESTINATION_STEPS_H
#define VARNEX_API_DESTINATION_STEPS_H

#include <memory>
#include <string>

#include "api/delivery_state.h"
#include "api/log_batch.h"
#include "api/shared_health.h"
#include "common/relay_outcome.h"
#include "net/tcp_relay.h"
#include "output/append_files.h"
#include "output/file_names.h"
#include "pipe/pipe_relay.h"

namespace varnex {

// A symbol's TCP server and the health that every identifier naming the
// same host and port shares.
struct TcpRoute {
    const ClientEndpoint *endpoint;
    SharedHealth *health;
    std::string label;  // "tcp://host:port"
};

// The signal a step carries, as text.
struct SignalCall {
    const std::string &symbol;
    const std::string &quantity;
    const std::string &price;
};

class DestinationStep {
public:
    DestinationStep(Destination kind, const SignalCall &call) : kind_(kind), call_(call) {}
    virtual ~DestinationStep() = default;
    DestinationStep(const DestinationStep &) = delete;
    DestinationStep &operator=(const DestinationStep &) = delete;

    Destination kind() const { return kind_; }
    // The health shared by everyone who relays there; null while none is
    // kept (a symbol without a server, a symbol's files before a miss).
    virtual SharedHealth *health() const = 0;
    // The destination as the console names it.
    virtual std::string label() const = 0;
    // What the log calls a destination that is down.
    virtual const char *downWord() const = 0;
    virtual std::string message() const = 0;
    // One try; what the log holds before the wait is written first.
    virtual RelayOutcome relay(const std::string &message, LogBatch &log) = 0;
    // What the log holds for a relay skipped because the destination is down.
    virtual RelayOutcome skipped(const std::string &message, const std::string &downText) const = 0;

    // The admission this signal's step got from the health, while unsettled.
    SharedHealth::Admission admission;
    bool admitted = false;
    // Skipped because the library is delivering an earlier position of the
    // symbol there right now.
    bool handedOver = false;

protected:
    const SignalCall &call() const { return call_; }

private:
    const Destination kind_;
    const SignalCall &call_;
};

class PipeStep : public DestinationStep {
public:
    PipeStep(const SignalCall &call, PipeRelay &relay, SharedHealth &health)
        : DestinationStep(Destination::Pipe, call), relay_(relay), health_(health) {}
    SharedHealth *health() const override { return &health_; }
    std::string label() const override { return "order pipe"; }
    const char *downWord() const override { return "receiver down"; }
    std::string message() const override;
    RelayOutcome relay(const std::string &message, LogBatch &log) override;
    RelayOutcome skipped(const std::string &message, const std::string &downText) const override;

private:
    PipeRelay &relay_;
    SharedHealth &health_;
};

class TcpStep : public DestinationStep {
public:
    // `route` is null for a symbol without a server: its step logs an empty
    // text. `stop` ends the exchange's waits early (socket_calls.h).
    TcpStep(const SignalCall &call, const TcpRoute *route, HANDLE stop = nullptr)
        : DestinationStep(Destination::Tcp, call), route_(route), stop_(stop) {}
    SharedHealth *health() const override { return route_ ? route_->health : nullptr; }
    std::string label() const override { return route_ ? route_->label : std::string(); }
    const char *downWord() const override { return "server down"; }
    std::string message() const override;
    RelayOutcome relay(const std::string &message, LogBatch &log) override;
    RelayOutcome skipped(const std::string &message, const std::string &downText) const override;

private:
    const TcpRoute *route_;
    HANDLE stop_;
};

// A symbol's signal file (rewritten) or debug file (appended to, through
// the dispatcher's debug files). Its path is made on first need: most signals never ask. A
// file has no health and no pause: a try costs a few hundred microseconds,
// so the host's thread tries it at every signal that owes it, and a file a
// reader holds is tried again by the library's delivery thread every few
// milliseconds until it takes the position.
class FileStep : public DestinationStep {
public:
    FileStep(const SignalCall &call, Destination kind, const std::string &driverName,
             const LibraryFiles &files, AppendFiles *debugFiles)
        : DestinationStep(kind, call), driverName_(driverName), files_(files), debugFiles_(debugFiles) {}
    SharedHealth *health() const override { return nullptr; }
    std::string label() const override;
    const char *downWord() const override { return "busy"; }
    std::string message() const override;
    RelayOutcome relay(const std::string &message, LogBatch &log) override;
    RelayOutcome skipped(const std::string &message, const std::string &downText) const override;

private:
    const std::string &path() const;

    const std::string &driverName_;
    const LibraryFiles &files_;
    AppendFiles *debugFiles_;
    mutable std::string path_;
};

}  // namespace varnex

#endif
