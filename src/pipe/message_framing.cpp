#include "pipe/message_framing.h"

namespace varnex {

std::vector<std::string> MessageFramer::feed(const char *data, size_t size) {
    std::vector<std::string> messages;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\0') {
            messages.push_back(std::move(pending_));
            pending_.clear();
        } else {
            pending_ += data[i];
            if (pending_.size() > kMaxPending) {
                messages.push_back(std::move(pending_));
                pending_.clear();
            }
        }
    }
    return messages;
}

}  // namespace varnex
