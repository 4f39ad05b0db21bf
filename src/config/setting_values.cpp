#include "config/setting_values.h"

#include <cstring>
#include <set>

#include "text/text_splitter.h"

namespace varnex {

bool isSwitchOn(const char *text) { return std::strcmp(text, "True") == 0 || std::strcmp(text, "true") == 0; }

int32_t effectiveAckTimeout(int32_t configured) { return configured > 0 ? configured : kDefaultAckTimeoutMs; }

namespace {

std::string lowerCase(std::string text) {
    for (char &c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

}  // namespace

LogRotation logRotationOf(const std::string &text) {
    return lowerCase(text) == "daily" ? LogRotation::Daily : LogRotation::Single;
}

bool isKnownLogRotation(const std::string &text) {
    const std::string word = lowerCase(text);
    return word.empty() || word == "daily" || word == "off" || word == "none" || word == "single" ||
           word == "no";
}

int32_t effectiveKeepDays(int32_t configured) { return configured > 0 ? configured : 0; }

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
