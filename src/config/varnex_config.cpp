#include "config/varnex_config.h"

#include <cstdlib>
#include <new>

#include "config/setting_values.h"

namespace varnex {

namespace {

// A default no file can hold (control characters), so the answer tells a
// missing key from one that is present, whatever its text.
constexpr const char *kAbsent = "\x01\x02varnex-absent\x02\x01";

struct FileText {
    bool present;
    std::string text;
};

FileText fileText(const SettingsFile &settings, const char *section, const char *key) {
    ConfigText raw(settings.getString(section, key, kAbsent));
    const std::string text(raw.get());
    if (text == kAbsent) return {false, std::string()};
    return {true, text};
}

TextSetting readText(const SettingsFile &settings, const char *section, const char *key,
                     const char *fallback) {
    TextSetting setting;
    ConfigText value(settings.getString(section, key, fallback));
    setting.value = value.get();
    setting.fromFile = fileText(settings, section, key).present;
    setting.read = true;
    return setting;
}

SwitchSetting readSwitch(const SettingsFile &settings, const char *key, bool fallback) {
    SwitchSetting setting;
    setting.on = settings.getBool(kSettingSection, key, fallback);
    const FileText raw = fileText(settings, kSettingSection, key);
    setting.fromFile = raw.present;
    setting.text = raw.text;
    return setting;
}

NumberSetting readNumber(const SettingsFile &settings, const char *section, const char *key,
                         int32_t fallback) {
    NumberSetting setting;
    setting.value = settings.getInt(section, key, fallback);
    const FileText raw = fileText(settings, section, key);
    setting.fromFile = raw.present;
    setting.text = raw.text;
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

VarnexConfig readVarnexConfig(const SettingsFile &settings) {
    VarnexConfig config;
    config.driverName = readText(settings, kSettingSection, "driverName", "C:\\");
    config.varnexMode = readSwitch(settings, "varnexMode", false);
    config.signalMode = readSwitch(settings, "signalMode", true);
    if (config.signalMode.on)
        config.signalFile = readText(settings, kSettingSection, "signalFile", "Signal.txt");
    config.signalDebugMode = readSwitch(settings, "signalDebugMode", false);
    if (config.signalDebugMode.on)
        config.signalDebugFile = readText(settings, kSettingSection, "signalDebugFile", "SignalDebug.txt");
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
}

}  // namespace varnex
