#include "config/varnex_config.h"

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
    char value[256];
    const bool present = settings.lookUp(section, key, value);
    return {present, value};
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
    setting.value = raw.present ? profileInt(raw.text, fallback) : fallback;
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
        endpoint.ackTimeout = readNumber(settings, section.c_str(), "ackTimeout", kDefaultAckTimeoutMs);
        endpoint.ackTimeout.value = effectiveAckTimeout(endpoint.ackTimeout.value);
        endpoints.push_back(std::move(endpoint));
    }
    return endpoints;
}

std::optional<VarnexConfig> readVarnexConfig(const SettingsFile &settings) noexcept {
    // Only building a text can fail, for want of memory; the exception ends here.
    try {
        VarnexConfig config;
        config.driverName = readText(settings, kSettingSection, "driverName", "C:\\");
        config.varnexMode = readSwitch(settings, "varnexMode", false);
        config.signalMode = readSwitch(settings, "signalMode", true);
        if (config.signalMode.on)
            config.signalFile = readText(settings, kSettingSection, "signalFile", "Signal.txt");
        config.signalDebugMode = readSwitch(settings, "signalDebugMode", false);
        if (config.signalDebugMode.on)
            config.signalDebugFile =
                readText(settings, kSettingSection, "signalDebugFile", "SignalDebug.txt");
        config.socketClient = readSwitch(settings, "socketClient", false);
        if (config.socketClient.on) config.endpoints = readEndpointSettings(settings, &config.clientID);
        config.logMode = readSwitch(settings, "logMode", false);
        if (config.logMode.on) {
            config.logFile = readText(settings, kSettingSection, "logFile", "VarnexMsg.txt");
            config.logRotate = readText(settings, kSettingSection, "logRotate", "");
            config.logKeepDays = readNumber(settings, kSettingSection, "logKeepDays", 0);
            config.logKeepDays.value = effectiveKeepDays(config.logKeepDays.value);
        }
        config.resendMode = readSwitch(settings, "resendMode", true);
        return config;
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace varnex
