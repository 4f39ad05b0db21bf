#include "config/varnex_config.h"

#include "common/counts.h"
#include "config/setting_values.h"

namespace varnex {

namespace {

// Each key is read from the file once: its text, if present, and from that
// its value, the way the platform's typed readers would take it.
struct FileText {
    bool present;
    std::string text;
};

FileText fileText(const SettingsFile &settings, const char *section, const char *key) {
    FileText raw;
    raw.present = settings.lookUp(section, key, raw.text);
    return raw;
}

TextSetting readText(const SettingsFile &settings, const char *section, const char *key,
                     const char *fallback) {
    FileText raw = fileText(settings, section, key);
    TextSetting setting;
    setting.value = raw.present ? std::move(raw.text) : std::string(fallback);
    setting.fromFile = raw.present;
    setting.read = true;
    return setting;
}

SwitchSetting readSwitch(const SettingsFile &settings, const char *key, bool fallback) {
    FileText raw = fileText(settings, kSettingSection, key);
    SwitchSetting setting;
    setting.on = raw.present ? isSwitchOn(raw.text.c_str()) : fallback;
    setting.fromFile = raw.present;
    setting.text = std::move(raw.text);
    return setting;
}

NumberSetting readNumber(const SettingsFile &settings, const char *section, const char *key,
                         int32_t fallback) {
    FileText raw = fileText(settings, section, key);
    NumberSetting setting;
    setting.written = raw.present ? profileNumber(raw.text, fallback) : fallback;
    setting.value = static_cast<int32_t>(setting.written);  // each caller brings it into its range
    setting.fromFile = raw.present;
    setting.text = std::move(raw.text);
    return setting;
}

}  // namespace

std::vector<EndpointSettings> readEndpointSettings(const SettingsFile &settings, TextSetting *clientID) {
    const TextSetting ids = readText(settings, kSocketClientSection, "clientID", "");
    if (clientID) *clientID = ids;
    std::vector<EndpointSettings> endpoints;
    for (const std::string &id : clientIdentifiers(ids.value)) {
        const std::string section = kEndpointSectionPrefix + id;
        EndpointSettings endpoint;
        endpoint.id = id;
        endpoint.serverIp = readText(settings, section.c_str(), "serverIp", "127.0.0.1");
        endpoint.serverPort = readNumber(settings, section.c_str(), "serverPort", 0);
        endpoint.serverPort.value = isTcpPort(endpoint.serverPort.written) ? endpoint.serverPort.value : 0;
        endpoint.ackTimeout = readNumber(settings, section.c_str(), "ackTimeout", kDefaultAckTimeoutMs);
        endpoint.ackTimeout.value = effectiveAckTimeout(endpoint.ackTimeout.written);
        endpoints.push_back(std::move(endpoint));
    }
    return endpoints;
}

std::vector<std::string> valuesNotTakenAsWritten(const VarnexConfig &config) {
    std::vector<std::string> notes;
    const auto asWritten = [](const char *key, const NumberSetting &setting) {
        return std::string(key) + (setting.fromFile ? "=" + setting.text : " (not set)");
    };
    for (const EndpointSettings &endpoint : config.endpoints) {
        const std::string section = "[" + std::string(kEndpointSectionPrefix) + endpoint.id + "] ";
        if (endpoint.serverPort.value == 0)
            notes.push_back(section + asWritten("serverPort", endpoint.serverPort) +
                            " is not a TCP port (1 to 65535): no order is sent to that server");
        if (endpoint.ackTimeout.fromFile && endpoint.ackTimeout.written != endpoint.ackTimeout.value)
            notes.push_back(section + asWritten("ackTimeout", endpoint.ackTimeout) + " is outside 1 to " +
                            std::to_string(kLongestAckTimeoutMs) +
                            " ms: " + std::to_string(endpoint.ackTimeout.value) + " ms is used");
    }
    const NumberSetting &keep = config.logKeepDays;
    if (config.logRotate.read && keep.fromFile && keep.value == 0 && !keep.text.empty() && keep.text != "0")
        notes.push_back(asWritten("logKeepDays", keep) +
                        " is no number of days from 1 to 2147483647: every daily log is kept");
    return notes;
}

std::optional<VarnexConfig> readVarnexConfig(const SettingsFile &settings) noexcept {
    // Only building a text can fail, for want of memory; the exception ends here.
    try {
        VarnexConfig config;
        config.driverName = readText(settings, kSettingSection, "driverName", "C:\\");
        config.varnexMode = readSwitch(settings, "varnexMode", false);
        config.signalMode = readSwitch(settings, "signalMode", true);
        config.signalFile.value = kDefaultSignalFile;
        if (config.signalMode.on)
            config.signalFile = readText(settings, kSettingSection, "signalFile", kDefaultSignalFile);
        config.signalDebugMode = readSwitch(settings, "signalDebugMode", false);
        config.signalDebugFile.value = kDefaultSignalDebugFile;
        if (config.signalDebugMode.on)
            config.signalDebugFile =
                readText(settings, kSettingSection, "signalDebugFile", kDefaultSignalDebugFile);
        config.socketClient = readSwitch(settings, "socketClient", false);
        if (config.socketClient.on) config.endpoints = readEndpointSettings(settings, &config.clientID);
        config.logMode = readSwitch(settings, "logMode", false);
        config.logFile.value = kDefaultLogFile;
        if (config.logMode.on) {
            config.logFile = readText(settings, kSettingSection, "logFile", kDefaultLogFile);
            config.logRotate = readText(settings, kSettingSection, "logRotate", "");
            config.logKeepDays = readNumber(settings, kSettingSection, "logKeepDays", 0);
            config.logKeepDays.value = effectiveKeepDays(config.logKeepDays.written);
        }
        config.resendMode = readSwitch(settings, "resendMode", true);
        config.statusMode = readSwitch(settings, "statusMode", true);
        return config;
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace varnex
