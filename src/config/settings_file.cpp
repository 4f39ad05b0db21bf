#include "config/settings_file.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "config/setting_values.h"

namespace varnex {

namespace {

constexpr DWORD kValueSize = 255;  // the platform cuts values to 254 characters

// A default no file can hold (control characters), so the answer tells a
// missing key from one that is present, whatever its text.
constexpr const char *kAbsent = "\x01\x02varnex-absent\x02\x01";

}  // namespace

SettingsFile::SettingsFile(const char *name) {
    std::memset(fileName, 0, sizeof fileName);
    // Longer names are cut so the buffer always keeps its terminating NUL.
    std::strncpy(fileName, name, sizeof fileName - 1);
}

int32_t SettingsFile::getInt(const char *section, const char *key, int32_t defaultValue) const {
    return static_cast<int32_t>(GetPrivateProfileIntA(section, key, defaultValue, fileName));
}

bool SettingsFile::getBool(const char *section, const char *key, bool defaultValue) const {
    char defaultText[256];
    std::snprintf(defaultText, sizeof defaultText, "%s", defaultValue ? "True" : "False");
    char valueText[256] = {};
    GetPrivateProfileStringA(section, key, defaultText, valueText, kValueSize, fileName);
    return isSwitchOn(valueText);
}

bool SettingsFile::lookUp(const char *section, const char *key, std::string &value) const {
    // One read with room for the longest value, so a key is read once even
    // when it is long (a list of a hundred client identifiers).
    value.assign(kLongestValue + 1, '\0');
    const DWORD length = GetPrivateProfileStringA(section, key, kAbsent, &value[0],
                                                  static_cast<DWORD>(value.size()), fileName);
    value.resize(length);
    if (value != kAbsent) return true;
    value.clear();
    return false;
}

}  // namespace varnex
