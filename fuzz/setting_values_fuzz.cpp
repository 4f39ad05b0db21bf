// The INI value rules. The whole input is the value text: a switch is on
// only for exactly "True" or "true" (read as a C string, up to its first
// NUL, as the profile functions hand it over); the client identifiers are
// unique, each one a comma-separated field of the list, and they are the
// first occurrences in their order (the fields are found here by hand). The
// first 8 bytes, as an int64, are a configured acknowledgement limit: one
// from 1 to the longest stands, a larger one gives the longest, any other
// the default. A decimal number is read as strtoll reads it: never wrapped.
#include <cstdint>
#include <cstdlib>
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

void checkAckTimeout(int64_t configured) {
    const int32_t limit = varnex::effectiveAckTimeout(configured);
    const int64_t expected = configured <= 0 ? 5000 : configured > 120000 ? 120000 : configured;
    FUZZ_CHECK(limit == expected,
               "configured " + std::to_string(configured) + " gave " + std::to_string(limit));
}

// Blanks, a sign and decimal digits only, in the 29 characters the platform
// reads: then the C library's own reading is the model.
void checkDecimal(const std::string &value) {
    const std::string read = value.substr(0, 29);
    size_t at = read.find_first_not_of(' ');
    if (at == std::string::npos || read.find('\0') != std::string::npos) return;
    if (read[at] == '+' || read[at] == '-') ++at;
    if (at >= read.size() || read.find_first_not_of("0123456789", at) != std::string::npos) return;
    if (read[at] == '0' && at + 1 < read.size()) return;  // 0x, 0o, 0b are the platform's own prefixes
    const long long expected = std::strtoll(read.c_str(), nullptr, 10);
    const int64_t got = varnex::profileNumber(value, -1);
    FUZZ_CHECK(got == expected, shown(read) + " read as " + std::to_string(got));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string value(reinterpret_cast<const char *>(data), size);
    checkSwitch(value);
    checkIdentifiers(value);
    checkDecimal(value);
    if (size >= sizeof(int64_t)) {
        int64_t configured;
        std::memcpy(&configured, data, sizeof configured);
        checkAckTimeout(configured);
    }
    return 0;
}
