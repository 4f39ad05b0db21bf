#include "console/console_queue.h"

#include <algorithm>
#include <utility>

namespace varnex {

std::string droppedLinesNotice(unsigned long long lines) {
    return "varnex: " + std::to_string(lines) + (lines == 1 ? " console line" : " console lines") +
           " dropped\r\n";
}

unsigned long long consoleLinesIn(const std::string &text) {
    const auto ends = static_cast<unsigned long long>(std::count(text.begin(), text.end(), '\n'));
    return text.empty() || text.back() == '\n' ? ends : ends + 1;
}

bool ConsoleQueue::push(ConsoleStream stream, std::string text) noexcept {
    const unsigned long long lines = consoleLinesIn(text);
    if (entries_.size() < maxEntries_ && text.size() <= maxBytes_ - bytes_) {
        try {
            const std::size_t size = text.size();
            entries_.push_back({{stream, std::move(text)}, droppedSinceLast_});
            bytes_ += size;
            droppedSinceLast_ = 0;
            return true;
        } catch (...) {
            // No memory for the entry: it is dropped like one that did not fit.
        }
    }
    droppedSinceLast_ += lines;
    droppedTotal_ += lines;
    return false;
}

bool ConsoleQueue::pop(ConsoleLine &line) {
    unsigned long long *gap = entries_.empty() ? &droppedSinceLast_ : &entries_.front().droppedBefore;
    if (*gap > 0) {
        const unsigned long long dropped = *gap;
        // Cleared first: a notice that cannot be made is not tried for ever.
        *gap = 0;
        line.stream = ConsoleStream::Error;
        line.text = droppedLinesNotice(dropped);
        return true;
    }
    if (entries_.empty()) return false;
    bytes_ -= entries_.front().line.text.size();
    line = std::move(entries_.front().line);
    entries_.pop_front();
    return true;
}

}  // namespace varnex
