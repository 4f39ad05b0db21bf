// Typed access to an INI file through the Windows profile functions. A name
// without a directory is resolved by Windows in the Windows directory.
#ifndef VARNEX_CONFIG_SETTINGS_FILE_H
#define VARNEX_CONFIG_SETTINGS_FILE_H

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace varnex {

class SettingsFile {
public:
    explicit SettingsFile(const char *name);

    int32_t getInt(const char *section, const char *key, int32_t defaultValue) const;
    float getFloat(const char *section, const char *key, float defaultValue) const;
    // On only for exactly "True" or "true"; a present key with any other text is off.
    bool getBool(const char *section, const char *key, bool defaultValue) const;
    // A new zeroed 255-byte buffer from malloc, owned by the caller (free());
    // null when no buffer can be had.
    char *getString(const char *section, const char *key, const char *defaultValue) const;
    // One read of a key: true and its whole text (up to kLongestValue
    // characters) when the key is present, whatever its text; false and an
    // empty text when the file, the section or the key is missing. Throws
    // only for want of memory.
    bool lookUp(const char *section, const char *key, std::string &value) const;

    // The most of a value that is read: the profile functions' own limit.
    static constexpr size_t kLongestValue = 32767;

private:
    char fileName[255];
};

struct FreeDeleter {
    void operator()(char *p) const noexcept { std::free(p); }
};
// Owns a text returned by SettingsFile::getString.
using ConfigText = std::unique_ptr<char, FreeDeleter>;

class SettingsWriter {
public:
    explicit SettingsWriter(const char *name);

    // Each returns the platform's success flag.
    bool setInt(const char *section, const char *key, int32_t value) const;
    bool setFloat(const char *section, const char *key, float value) const;
    bool setBool(const char *section, const char *key, bool value) const;
    bool setString(const char *section, const char *key, const char *value) const;

private:
    char fileName[255];
};

}  // namespace varnex

#endif
