#include "config/setting_values.h"

#include <cstring>
#include <set>

#include "text/ascii_case.h"
#include "text/text_splitter.h"

namespace varnex {

bool isSwitchOn(const char *text) { return std::strcmp(text, "True") == 0 || std::strcmp(text, "true") == 0; }

int64_t profileNumber(const std::string &text, int64_t fallback) {
    if (text.empty()) return fallback;
    const std::string read = text.substr(0, 29);
    size_t at = 0;
    while (at < read.size() && static_cast<unsigned char>(read[at]) <= ' ') ++at;
    bool negative = false;
    if (at < read.size() && (read[at] == '+' || read[at] == '-')) negative = read[at++] == '-';
    uint32_t base = 10;
    if (at + 1 < read.size() && read[at] == '0') {
        const char prefix = read[at + 1];
        base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 10;
        if (base != 10) at += 2;
    }
    // The magnitude stops at the end of what int64_t holds on its side.
    const uint64_t most = static_cast<uint64_t>(INT64_MAX) + (negative ? 1 : 0);
    uint64_t value = 0;
    for (; at < read.size(); ++at) {
        const char c = read[at];
        const uint32_t digit = c >= '0' && c <= '9'   ? static_cast<uint32_t>(c - '0')
                               : c >= 'a' && c <= 'z' ? static_cast<uint32_t>(c - 'a' + 10)
                               : c >= 'A' && c <= 'Z' ? static_cast<uint32_t>(c - 'A' + 10)
                                                      : 36;
        if (digit >= base) break;
        value = value > (most - digit) / base ? most : value * base + digit;
    }
    return static_cast<int64_t>(negative ? 0 - value : value);
}

int32_t effectiveAckTimeout(int64_t written) {
    if (written <= 0) return kDefaultAckTimeoutMs;
    return written > kLongestAckTimeoutMs ? kLongestAckTimeoutMs : static_cast<int32_t>(written);
}

LogRotation logRotationOf(const std::string &text) {
    return asciiLower(text) == "daily" ? LogRotation::Daily : LogRotation::Single;
}

bool isKnownLogRotation(const std::string &text) {
    const std::string word = asciiLower(text);
    return word.empty() || word == "daily" || word == "off" || word == "none" || word == "single" ||
           word == "no";
}

int32_t effectiveKeepDays(int64_t written) {
    return written <= 0 || written > INT32_MAX ? 0 : static_cast<int32_t>(written);
}

std::vector<std::string> clientIdentifiers(const std::string &clientIdList) {
    const TextSplitter splitter(clientIdList, ",");
    std::vector<std::string> identifiers;
    std::set<std::string> seen;
    for (size_t i = 0; i < splitter.count(); ++i) {
        const std::string &id = splitter.token(i);
        if (seen.insert(id).second) identifiers.push_back(id);
    }
    return identifiers;
}

}  // namespace varnex
