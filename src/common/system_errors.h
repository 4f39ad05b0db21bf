// The one place where a Windows error code becomes text, for the log, the
// console and the tools alike: its name, its number and the system's own
// message, so that a line reads the same under Wine, which has no message
// for several codes, as on Windows.
#ifndef VARNEX_COMMON_SYSTEM_ERRORS_H
#define VARNEX_COMMON_SYSTEM_ERRORS_H

#include <string>

namespace varnex {

// The system's message for `code`, without its line end; empty where it has none.
std::string systemMessage(unsigned long code);

// "ERROR_SHARING_VIOLATION (32) The process cannot access the file ..." —
// "error (N)" and the message for a code without a name here.
std::string systemErrorText(unsigned long code);

}  // namespace varnex

#endif
