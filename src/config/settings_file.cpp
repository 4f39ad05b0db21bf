#include "config/settings_file.h"

#include <windows.h>

#include <cstring>

namespace varnex {

namespace {

// A default no file can hold (control characters), so the answer tells a
// missing key from one that is present, whatever its text.
constexpr const char *kAbsent = "\x01\x02varnex-absent\x02\x01";

}  // namespace

SettingsFile::SettingsFile(const char *name) {
    std::memset(fileName_, 0, sizeof fileName_);
    // Longer names are cut so the buffer always keeps its terminating NUL.
    std::strncpy(fileName_, name, sizeof fileName_ - 1);
}

bool SettingsFile::lookUp(const char *section, const char *key, std::string &value) const {
    // One read with room for the longest value, so a key is read once even
    // when it is long (a list of a hundred client identifiers).
    value.assign(kLongestValue + 1, '\0');
    const DWORD length = GetPrivateProfileStringA(section, key, kAbsent, &value[0],
                                                  static_cast<DWORD>(value.size()), fileName_);
    value.resize(length);
    if (value != kAbsent) return true;
    value.clear();
    return false;
}

}  // namespace varnex
