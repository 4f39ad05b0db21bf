// Text rules shared by the console tools: option numbers and the meaning of
// the Windows errors a DLL load ends with. Pure, so it is unit-tested natively.
#ifndef VARNEX_TOOLS_TOOL_TEXT_H
#define VARNEX_TOOLS_TOOL_TEXT_H

#include <cstdint>
#include <string>

namespace varnex_tools {

// A whole decimal integer (optional sign) within [low, high].
bool parseInteger(const std::string &text, int64_t low, int64_t high, int64_t &value);

// "error 126: Varnex.dll or a DLL it needs was not found" and the like.
std::string loadErrorText(unsigned long code);

// True for a dotted IPv4 address in 127.0.0.0/8.
bool isLoopbackAddress(const std::string &text);

}  // namespace varnex_tools

#endif
