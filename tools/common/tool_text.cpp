#include "common/tool_text.h"

#include <cctype>

namespace varnex_tools {

bool parseInteger(const std::string &text, int64_t low, int64_t high, int64_t &value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size() || text.size() - i > 18) return false;
    int64_t result = 0;
    for (; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        result = result * 10 + (text[i] - '0');
    }
    if (negative) result = -result;
    if (result < low || result > high) return false;
    value = result;
    return true;
}

std::string loadErrorText(unsigned long code) {
    std::string text = "error " + std::to_string(code) + ": ";
    switch (code) {
        case 2:
        case 3:
        case 126:
            return text + "the DLL, or a DLL it needs, was not found";
        case 193:
            return text +
                   "the DLL is of the other bitness (a 32-bit host needs the 32-bit Varnex.dll, "
                   "a 64-bit host the 64-bit one), or not a DLL at all";
        case 5:
            return text + "access to the DLL was denied";
        case 127:
            return text + "the DLL lacks an export this program needs (not a Varnex.dll?)";
        default:
            return text + "the DLL could not be loaded";
    }
}

bool isLoopbackAddress(const std::string &text) {
    int64_t parts[4];
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t dot = i < 3 ? text.find('.', start) : text.size();
        if (dot == std::string::npos) return false;
        const std::string part = text.substr(start, dot - start);
        if (part.empty() || part[0] == '+' || part[0] == '-' || !parseInteger(part, 0, 255, parts[i]))
            return false;
        start = dot + 1;
    }
    return parts[0] == 127;
}

}  // namespace varnex_tools
