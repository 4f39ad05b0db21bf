#include "pipe/pipe_texts.h"

namespace varnex {

std::string pointerText(uintptr_t address, size_t width) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out(width * 2, '0');
    for (size_t i = out.size(); i-- > 0 && address != 0; address >>= 4) out[i] = hex[address & 15];
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
