#include "doctor/doctor_rules.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "config/setting_values.h"
#include "output/file_names.h"
#include "text/ascii_case.h"
#include "text/text_splitter.h"

namespace varnex_tools {

using varnex::asciiLower;
using varnex::EndpointSettings;
using varnex::SwitchSetting;
using varnex::VarnexConfig;

namespace {

constexpr size_t kValueLimit = varnex::SettingsFile::kLongestValue;

// Profile files compare section and key names without regard to case.
bool sameName(const std::string &a, const std::string &b) { return asciiLower(a) == asciiLower(b); }

bool hasBlanks(const std::string &text) {
    return !text.empty() && (std::isspace(static_cast<unsigned char>(text.front())) ||
                             std::isspace(static_cast<unsigned char>(text.back())));
}

size_t editDistance(const std::string &a, const std::string &b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

const std::vector<std::string> &knownKeys(const std::string &section) {
    static const std::vector<std::string> setting = {
        "driverName",      "varnexMode",   "signalMode", "signalFile", "signalDebugMode",
        "signalDebugFile", "socketClient", "logMode",    "logFile",    "logRotate",
        "logKeepDays",     "resendMode",   "statusMode"};
    static const std::vector<std::string> socketClient = {"clientID"};
    static const std::vector<std::string> endpoint = {"serverIp", "serverPort", "ackTimeout"};
    static const std::vector<std::string> none;
    if (sameName(section, varnex::kSettingSection)) return setting;
    if (sameName(section, varnex::kSocketClientSection)) return socketClient;
    if (sameName(section.substr(0, 3), varnex::kEndpointSectionPrefix)) return endpoint;
    return none;
}

void warn(std::vector<Finding> &out, std::string text) { out.push_back({false, std::move(text)}); }

void checkSwitch(std::vector<Finding> &out, const char *key, const SwitchSetting &setting) {
    if (!setting.fromFile || setting.on) return;
    static const char *const meantOn[] = {"1", "true", "yes", "on", "y", "enabled", "enable", "-1"};
    static const char *const meantOff[] = {"false", "0", "no", "off", "n", "disabled", "disable"};
    const std::string value = asciiLower(setting.text);
    for (const char *word : meantOn)
        if (value == word) {
            warn(out,
                 std::string(key) + "=" + setting.text + " counts as OFF: only True or true switch it on");
            return;
        }
    for (const char *word : meantOff)
        if (value == word) return;
    warn(out, std::string(key) + "=" + setting.text + " is neither True nor False and counts as OFF");
}

void checkKeys(std::vector<Finding> &out, const RawSection &section) {
    const std::vector<std::string> &known = knownKeys(section.name);
    for (const RawEntry &entry : section.entries) {
        if (entry.value.size() > kValueLimit)
            warn(out, "[" + section.name + "] " + entry.key + " is " + std::to_string(entry.value.size()) +
                          " characters long; the library reads only its first " +
                          std::to_string(kValueLimit));
        if (known.empty()) continue;
        bool found = false;
        std::string nearest;
        size_t best = 3;
        for (const std::string &name : known) {
            if (sameName(name, entry.key)) found = true;
            const size_t distance = editDistance(asciiLower(name), asciiLower(entry.key));
            if (distance < best) best = distance, nearest = name;
        }
        if (found) continue;
        std::string text =
            "unknown key " + entry.key + " in [" + section.name + "] is not read by the library";
        if (!nearest.empty()) text += " (a typo of " + nearest + "?)";
        warn(out, text);
    }
}

void checkPathLength(std::vector<Finding> &out, const std::string &file, const std::string &path) {
    if (!varnex::exceedsMaxPath(path)) return;
    warn(out, "the path of " + file + " is " + std::to_string(path.size()) +
                  " characters long, past MAX_PATH (" + std::to_string(varnex::kMaxPathWithNul - 1) +
                  "): the library writes it, but some programs cannot open such files");
}

// Symbols this short are everyday tickers, option and spread names; a
// driverName that leaves less room than that for a stem is worth a word.
constexpr size_t kEverydaySymbolBytes = 32;

void checkPathLengths(std::vector<Finding> &out, const VarnexConfig &config,
                      const std::optional<std::string> &symbol) {
    const char *driver = config.driverName.value.c_str();
    if (config.logMode.on)
        checkPathLength(out, "the log file", varnex::logPath(driver, config.logFile.value.c_str()));
    if (!config.signalMode.on) return;
    const bool debug = config.signalDebugMode.on;
    std::vector<std::string> symbols = {""};
    if (symbol && !symbol->empty()) symbols.push_back(*symbol);
    for (const std::string &s : symbols) {
        const std::string whose = s.empty() ? "the empty symbol" : s;
        checkPathLength(out, "the signal file of " + whose,
                        varnex::signalPath(driver, s.c_str(), libraryFiles(config)));
        if (debug)
            checkPathLength(out, "the signal debug file of " + whose,
                            varnex::signalDebugPath(driver, s.c_str(), libraryFiles(config)));
    }
    // The shortest stem whose files pass MAX_PATH: driverName, stem and
    // suffix take kMaxPathWithNul bytes or more.
    const size_t suffix = std::string(debug ? "_debug.txt" : ".txt").size();
    const size_t used = config.driverName.value.size() + suffix;
    const size_t shortest = used + 1 >= varnex::kMaxPathWithNul ? 1 : varnex::kMaxPathWithNul - used;
    if (shortest <= kEverydaySymbolBytes)
        warn(out, "the signal files of symbols of " + std::to_string(shortest) +
                      (shortest == 1 ? " byte" : " bytes") +
                      " or more have paths past MAX_PATH: the library writes them, but some programs "
                      "cannot open such files");
}

void checkLogRotation(std::vector<Finding> &out, const VarnexConfig &config) {
    if (!config.logRotate.read) return;
    const bool daily = varnex::logRotationOf(config.logRotate.value) == varnex::LogRotation::Daily;
    if (!varnex::isKnownLogRotation(config.logRotate.value))
        warn(out, "logRotate=" + config.logRotate.value + " is not daily: the log stays one file");
    const varnex::NumberSetting &keep = config.logKeepDays;
    if (!keep.fromFile) return;
    if (keep.value > 0 && !daily)
        warn(out,
             "logKeepDays=" + keep.text + " deletes nothing: only daily logs (logRotate=daily) are deleted");
}

}  // namespace

varnex::LibraryFiles libraryFiles(const VarnexConfig &config) {
    return {config.signalFile.value, config.signalDebugFile.value, config.logFile.value};
}

std::vector<RawEntry> parseSectionBlock(const char *block, size_t size) {
    std::vector<RawEntry> entries;
    size_t start = 0;
    while (start < size && block[start] != '\0') {
        size_t end = start;
        while (end < size && block[end] != '\0') ++end;
        const std::string line(block + start, end - start);
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            entries.push_back({line, std::string()});
        else
            entries.push_back({line.substr(0, equals), line.substr(equals + 1)});
        start = end + 1;
    }
    return entries;
}

std::string driverFolder(const std::string &driverName) {
    const size_t last = driverName.find_last_of("\\/");
    return last == std::string::npos ? std::string() : driverName.substr(0, last + 1);
}

std::vector<Finding> checkConfiguration(const VarnexConfig &config, const std::vector<RawSection> &sections,
                                        const FolderState &folder, const std::optional<std::string> &symbol) {
    std::vector<Finding> out;
    for (const RawSection &section : sections) {
        if (knownKeys(section.name).empty())
            warn(out, "section [" + section.name + "] is not read by the library");
        checkKeys(out, section);
    }
    checkSwitch(out, "varnexMode", config.varnexMode);
    checkSwitch(out, "signalMode", config.signalMode);
    checkSwitch(out, "signalDebugMode", config.signalDebugMode);
    checkSwitch(out, "socketClient", config.socketClient);
    checkSwitch(out, "logMode", config.logMode);
    checkSwitch(out, "resendMode", config.resendMode);
    checkSwitch(out, "statusMode", config.statusMode);

    const std::string &driver = config.driverName.value;
    if (driver.empty() || (driver.back() != '\\' && driver.back() != '/')) {
        const std::string example = varnex::signalPath(driver.c_str(), "ABC", libraryFiles(config));
        warn(out, "driverName \"" + driver +
                      "\" does not end with a backslash: the signal file of ABC would be " + example);
    }
    if (folder.checked) {
        const std::string shown =
            driverFolder(driver).empty() ? "(the host's current folder)" : driverFolder(driver);
        if (!folder.exists)
            warn(out, "the folder of driverName, " + shown +
                          ", does not exist: no signal or log file can be written");
        else if (!folder.writable)
            warn(out, "the folder of driverName, " + shown +
                          ", cannot be written: no signal or log file will appear");
    }
    checkPathLengths(out, config, symbol);
    checkLogRotation(out, config);
    for (const std::string &note : varnex::valuesNotTakenAsWritten(config)) warn(out, note);
    if (config.signalDebugMode.on && !config.signalMode.on)
        warn(out, "signalDebugMode is on while signalMode is off: no signal debug line is ever written");

    if (config.socketClient.on) {
        const varnex::TextSplitter ids(config.clientID.value, ",");
        std::map<std::string, int> seen;
        for (size_t i = 0; i < ids.count(); ++i) {
            const std::string &id = ids.token(i);
            if (id.empty())
                warn(out, "clientID \"" + config.clientID.value +
                              "\" holds an empty identifier (an empty list, or a comma too many)");
            else if (hasBlanks(id))
                warn(out, "client identifier \"" + id + "\" has blanks around it: only a symbol spelt \"" +
                              id + "\" would match");
            if (++seen[id] == 2 && !id.empty())
                warn(out, "client identifier " + id + " is listed twice; the first listing is used");
        }
        for (const EndpointSettings &endpoint : config.endpoints) {
            const std::string name = varnex::kEndpointSectionPrefix + endpoint.id;
            const bool present = std::any_of(sections.begin(), sections.end(),
                                             [&](const RawSection &s) { return sameName(s.name, name); });
            if (!present)
                warn(out, "section [" + name + "] for client identifier \"" + endpoint.id + "\" is missing");
        }
        for (const RawSection &section : sections) {
            if (!sameName(section.name.substr(0, 3), varnex::kEndpointSectionPrefix)) continue;
            const bool listed =
                std::any_of(config.endpoints.begin(), config.endpoints.end(), [&](const EndpointSettings &e) {
                    return sameName(varnex::kEndpointSectionPrefix + e.id, section.name);
                });
            if (!listed)
                warn(out, "section [" + section.name + "] is not used: " + section.name.substr(3) +
                              " is not listed in clientID");
        }
    }
    return out;
}

}  // namespace varnex_tools
