// The log lines of one process call, appended together in one write with
// one stamp: before each wait on a peer (a pipe send, a TCP exchange), so
// that a host dying inside one leaves every line before it on disk, and
// when the call returns. No line is held between calls.
#ifndef VARNEX_API_LOG_BATCH_H
#define VARNEX_API_LOG_BATCH_H

#include <string>
#include <vector>

#include "output/log_file.h"

namespace varnex {

class LogBatch {
public:
    // `log` is null while logMode is off: then nothing is kept.
    explicit LogBatch(LogFile *log) : log_(log) {}
    ~LogBatch() { flush(); }
    LogBatch(const LogBatch &) = delete;
    LogBatch &operator=(const LogBatch &) = delete;
    // Whether lines are kept: callers skip building texts that would be dropped.
    bool on() const { return log_ != nullptr; }
    void add(std::string text) {
        if (!log_) return;
        // Room for a signal's usual lines at once, rather than growing by one and two.
        if (lines_.empty()) lines_.reserve(4);
        lines_.push_back(std::move(text));
    }
    void flush() noexcept {
        if (lines_.empty()) return;
        try {
            log_->append(lines_.data(), lines_.size());
        } catch (...) {
            // Out of memory: these lines are lost, the call goes on.
        }
        lines_.clear();
    }

private:
    LogFile *log_;
    std::vector<std::string> lines_;
};

}  // namespace varnex

#endif
