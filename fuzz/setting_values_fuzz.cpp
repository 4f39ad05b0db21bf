// The INI value rules. The whole input is the value text: a switch is on
// only for exactly "True" or "true" (read as a C string, up to its first
// NUL, as the profile functions hand it over); the client identifiers are
// unique, each one a comma-separated field of the list, and they are the
// first occurrences in their order (the fields are found here by hand). The
// first 4 bytes, as an int32, are a configured acknowledgement limit: a
// positive one stands, any other gives the default.
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "config/setting_values.h"
#include "fuzz_check.h"

using varnex_fuzz::shown;

namespace {

std::vector<std::string> commaFields(const std::string &list) {
    std::vector<std::string> fields(1);
    for (char c : list) {
        if (c == ',')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

void checkSwitch(const std::string &value) {
    const std::string asC = value.substr(0, value.find('\0'));
    const bool on = varnex::isSwitchOn(asC.c_str());
    FUZZ_CHECK(on == (asC == "True" || asC == "true"), shown(asC) + (on ? " is on" : " is off"));
}

void checkIdentifiers(const std::string &list) {
    const std::vector<std::string> ids = varnex::clientIdentifiers(list);
    const std::vector<std::string> fields = commaFields(list);
    std::vector<std::string> firsts;
    std::set<std::string> seen;
    for (const std::string &field : fields)
        if (seen.insert(field).second) firsts.push_back(field);
    FUZZ_CHECK(!ids.empty(), shown(list) + ": no identifier");
    FUZZ_CHECK(std::set<std::string>(ids.begin(), ids.end()).size() == ids.size(),
               shown(list) + ": an identifier twice");
    for (const std::string &id : ids)
        FUZZ_CHECK(seen.count(id) == 1, shown(list) + ": " + shown(id) + " is no field of the list");
    FUZZ_CHECK(ids == firsts, shown(list) + ": " + std::to_string(ids.size()) + " identifiers, " +
                                  std::to_string(firsts.size()) + " first occurrences");
}

void checkAckTimeout(int32_t configured) {
    const int32_t limit = varnex::effectiveAckTimeout(configured);
    const int32_t expected = configured > 0 ? configured : 5000;
    FUZZ_CHECK(limit == expected,
               "configured " + std::to_string(configured) + " gave " + std::to_string(limit));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string value(reinterpret_cast<const char *>(data), size);
    checkSwitch(value);
    checkIdentifiers(value);
    if (size >= sizeof(int32_t)) {
        int32_t configured;
        std::memcpy(&configured, data, sizeof configured);
        checkAckTimeout(configured);
    }
    return 0;
}
