#include "pipe/pipe_receiver.h"

namespace varnex {

bool PipeReceiver::open(std::string stopWord, OrderCallback callback) {
    return reader_.start(pipePath(true), pipePath(false), std::move(stopWord), callback);
}

bool PipeReceiver::send(std::string text) {
    text.push_back('\0');
    return reader_.started() && reader_.send(text, kSendLimitMs);
}

}  // namespace varnex
