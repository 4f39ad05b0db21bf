// The doctor's checks of a configuration, as plain data in and findings out:
// the values the library reads (VarnexConfig), the file's raw sections, and
// what the caller found out about the output folder.
#ifndef VARNEX_TOOLS_DOCTOR_RULES_H
#define VARNEX_TOOLS_DOCTOR_RULES_H

#include <optional>
#include <string>
#include <vector>

#include "config/varnex_config.h"
#include "output/file_names.h"

namespace varnex_tools {

struct RawEntry {
    std::string key;
    std::string value;
};

struct RawSection {
    std::string name;
    std::vector<RawEntry> entries;
};

// The names of the library's own files in `config`, which no symbol's file takes.
varnex::LibraryFiles libraryFiles(const varnex::VarnexConfig &config);

// The "key=value\0key=value\0\0" block that GetPrivateProfileSectionA fills.
std::vector<RawEntry> parseSectionBlock(const char *block, size_t size);

// The folder part of driverName (up to its last backslash or slash); empty
// when it has none, which means the host's current folder.
std::string driverFolder(const std::string &driverName);

struct FolderState {
    bool checked = false;  // false when no output file is switched on
    bool exists = false;
    bool writable = false;
};

struct Finding {
    bool error;
    std::string text;
};

// `symbol`: the one the user asked about, whose own files are checked too.
std::vector<Finding> checkConfiguration(const varnex::VarnexConfig &config,
                                        const std::vector<RawSection> &sections, const FolderState &folder,
                                        const std::optional<std::string> &symbol = std::nullopt);

}  // namespace varnex_tools

#endif
