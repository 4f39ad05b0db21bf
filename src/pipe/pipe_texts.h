// Log texts of the pipe relay and the order-callback registration.
#ifndef VARNEX_PIPE_PIPE_TEXTS_H
#define VARNEX_PIPE_PIPE_TEXTS_H

#include <cstdint>
#include <string>

namespace varnex {

// An address as an output stream writes a pointer on Windows: upper-case
// hexadecimal, zero-padded to the pointer's width, no prefix.
std::string pointerText(uintptr_t address, size_t width = sizeof(void *));

std::string registrationText(uintptr_t channelAddress, bool ok);
std::string checkSignalText(const std::string &message);
std::string callbackResultText(const std::string &message, bool ok);

// Why a relay did not reach the order function, and its log line: "pipe: " + reason.
std::string noReceiverText(unsigned long error);
std::string receiverBusyText(unsigned long error);
std::string receiverSlowText(unsigned long sendLimitMs);
std::string receiverNotReadingText(unsigned long sendLimitMs);
std::string pipeFailedText(unsigned long error);
std::string pipeReasonText(const std::string &reason);

}  // namespace varnex

#endif
