#include "pipe/pipe_receiver.h"

namespace varnex {

bool PipeReceiver::open(std::string stopWord, OrderCallback callback) {
    return reader_.start(pipePath(true), pipePath(false), std::move(stopWord), callback);
}

}  // namespace varnex
