#include "pipe/pipe_receiver.h"

namespace varnex {

bool PipeReceiver::open(std::string stopWord, OrderCallback callback) {
    return reader.start(pipePath(true), pipePath(false), std::move(stopWord), callback);
}

bool PipeReceiver::send(std::string text) {
    text.push_back('\0');
    return reader.started() && reader.send(text, kSendLimitMs);
}

}  // namespace varnex
