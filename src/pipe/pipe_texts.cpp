#include "pipe/pipe_texts.h"

#include "common/system_errors.h"
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

std::string noReceiverText(unsigned long error) { return "no receiver: " + systemErrorText(error); }

std::string receiverBusyText(unsigned long error) {
    return "receiver held by another sender: " + systemErrorText(error);
}

std::string receiverSlowText(unsigned long sendLimitMs) {
    return "receiver slow: busy with earlier orders, not sent within " + std::to_string(sendLimitMs) + " ms";
}

std::string receiverNotReadingText(unsigned long sendLimitMs) {
    return "receiver not reading: send timed out after " + std::to_string(sendLimitMs) + " ms";
}

std::string pipeFailedText(unsigned long error) { return "send failed: " + systemErrorText(error); }

std::string pipeReasonText(const std::string &reason) { return "pipe: " + reason; }

}  // namespace varnex
