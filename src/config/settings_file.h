// An INI file's keys read through the Windows profile functions, each as its
// whole text; the rules for what a text means are setting_values'. A name
// without a directory is resolved by Windows in the Windows directory.
#ifndef VARNEX_CONFIG_SETTINGS_FILE_H
#define VARNEX_CONFIG_SETTINGS_FILE_H

#include <cstddef>
#include <string>

namespace varnex {

class SettingsFile {
public:
    explicit SettingsFile(const char *name);

    // One read of a key: true and its whole text (up to kLongestValue
    // characters) when the key is present, whatever its text; false and an
    // empty text when the file, the section or the key is missing. Throws
    // only for want of memory.
    bool lookUp(const char *section, const char *key, std::string &value) const;

    // The most of a value that is read: the profile functions' own limit.
    static constexpr size_t kLongestValue = 32767;

private:
    char fileName_[255];
};

}  // namespace varnex

#endif
