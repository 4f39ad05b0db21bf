#include "config/settings_file.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/setting_values.h"

namespace varnex {

namespace {

constexpr DWORD kValueSize = 255;  // the platform cuts values to 254 characters

// A default no file can hold (control characters), so the answer tells a
// missing key from one that is present, whatever its text.
constexpr const char *kAbsent = "\x01\x02varnex-absent\x02\x01";

void copyName(char (&target)[255], const char *name) {
    std::memset(target, 0, sizeof target);
    // Longer names are cut so the buffer always keeps its terminating NUL.
    std::strncpy(target, name, sizeof target - 1);
}

// "%f" for the stored form of floats, always with a full stop: the profile text
// must read back the same whatever locale the host has set for the C runtime.
void formatFloat(char (&out)[256], float value) {
    std::snprintf(out, sizeof out, "%f", static_cast<double>(value));
    for (char &c : out)
        if (c == ',') c = '.';
}

}  // namespace

SettingsFile::SettingsFile(const char *name) { copyName(fileName, name); }

int32_t SettingsFile::getInt(const char *section, const char *key, int32_t defaultValue) const {
    return static_cast<int32_t>(GetPrivateProfileIntA(section, key, defaultValue, fileName));
}

float SettingsFile::getFloat(const char *section, const char *key, float defaultValue) const {
    char defaultText[256];
    formatFloat(defaultText, defaultValue);
    char valueText[256] = {};
    GetPrivateProfileStringA(section, key, defaultText, valueText, kValueSize, fileName);
    return static_cast<float>(std::atof(valueText));
}

bool SettingsFile::getBool(const char *section, const char *key, bool defaultValue) const {
    char defaultText[256];
    std::snprintf(defaultText, sizeof defaultText, "%s", defaultValue ? "True" : "False");
    char valueText[256] = {};
    GetPrivateProfileStringA(section, key, defaultText, valueText, kValueSize, fileName);
    return isSwitchOn(valueText);
}

char *SettingsFile::getString(const char *section, const char *key, const char *defaultValue) const {
    char *buffer = static_cast<char *>(std::calloc(kValueSize, 1));
    if (buffer) GetPrivateProfileStringA(section, key, defaultValue, buffer, kValueSize, fileName);
    return buffer;
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

SettingsWriter::SettingsWriter(const char *name) { copyName(fileName, name); }

bool SettingsWriter::setInt(const char *section, const char *key, int32_t value) const {
    char text[32];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    return setString(section, key, text);
}

bool SettingsWriter::setFloat(const char *section, const char *key, float value) const {
    char text[256];
    formatFloat(text, value);
    return setString(section, key, text);
}

bool SettingsWriter::setBool(const char *section, const char *key, bool value) const {
    return setString(section, key, value ? "True" : "False");
}

bool SettingsWriter::setString(const char *section, const char *key, const char *value) const {
    return WritePrivateProfileStringA(section, key, value, fileName) != FALSE;
}

}  // namespace varnex
