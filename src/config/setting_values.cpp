#include "config/setting_values.h"

#include <cstring>
#include <set>

#include "text/text_splitter.h"

namespace varnex {

bool isSwitchOn(const char *text) { return std::strcmp(text, "True") == 0 || std::strcmp(text, "true") == 0; }

int32_t effectiveAckTimeout(int32_t configured) { return configured > 0 ? configured : kDefaultAckTimeoutMs; }

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
