#include "pipe/pipe_texts.h"

#include "text/digits.h"

namespace varnex {

std::string pointerText(uintptr_t address, size_t width) {
    std::string out;
    appendHex(out, address, static_cast<int>(width * 2));
    return out;
}

std::string registrationText(uintptr_t channelAddress, bool ok) {
    return "RegisterOrderFunc: [" + pointerText(channelAddress) + "]" + ", ok: " + (ok ? "1" : "0");
}

std::string checkSignalText(const std::string &message) { return "0. checkSignal: " + message; }

std::string callbackResultText(const std::string &message, bool ok) {
    return "1. callBackOrderFunc: " + message + ", OK:" + (ok ? "true" : "false");
}

}  // namespace varnex
