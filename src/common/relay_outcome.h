// What one destination step of the signal pipeline did. Steps report, the
// pipeline decides: it owns the log and the position book, so it writes the
// texts in the documented order and knows which destination got the position.
#ifndef VARNEX_COMMON_RELAY_OUTCOME_H
#define VARNEX_COMMON_RELAY_OUTCOME_H

#include <string>
#include <vector>

namespace varnex {

struct RelayOutcome {
    // The destination holds the position now: the whole pipe message was
    // written, the TCP server answered "OK", the file line was written.
    bool reached = false;
    // Texts for the log, each one log line (an empty text is a line too).
    std::vector<std::string> log;
    // What goes to standard error, with its own line ends; empty for none.
    std::string console;
    // A miss that says the destination itself cannot take anything now: it
    // timed out, refused the connection, is held by someone else or does not
    // read. Such a miss marks the destination down for every symbol.
    bool down = false;
    // Why it was missed, in a few words, for the line that says it went down.
    std::string reason;
};

}  // namespace varnex

#endif
