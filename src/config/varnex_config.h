// Every configuration value the library reads from Varnex.ini, with its
// effective value and whether the file set it. The dispatcher configures
// itself from this, and the doctor tool shows and checks the same values.
#ifndef VARNEX_CONFIG_VARNEX_CONFIG_H
#define VARNEX_CONFIG_VARNEX_CONFIG_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/setting_values.h"
#include "config/settings_file.h"

namespace varnex {

constexpr const char *kVarnexIniName = "Varnex.ini";
constexpr const char *kSettingSection = "Setting";
constexpr const char *kSocketClientSection = "SocketClient";
constexpr const char *kEndpointSectionPrefix = "SC-";

// The file names a key that is not read (or not present) leaves.
constexpr const char *kDefaultSignalFile = "Signal.txt";
constexpr const char *kDefaultSignalDebugFile = "SignalDebug.txt";
constexpr const char *kDefaultLogFile = "VarnexMsg.txt";

// `read` is false for a key the library skips because its switch is off;
// such a key still holds its default.
struct TextSetting {
    std::string value;
    bool fromFile = false;
    bool read = false;
};

// `text` is what the file holds (empty when the key is missing).
struct SwitchSetting {
    bool on = false;
    std::string text;
    bool fromFile = false;
};

// `written` is the text's number, never wrapped; `value` what the library
// uses: the written number when the key's range holds it, else what the
// key's rule takes instead (see valuesNotTakenAsWritten).
struct NumberSetting {
    int64_t written = 0;
    int32_t value = 0;
    std::string text;
    bool fromFile = false;
};

struct EndpointSettings {
    std::string id;  // as listed in clientID: untrimmed, case-sensitive
    TextSetting serverIp;
    NumberSetting serverPort;  // value 0 when written is no TCP port: no order goes there
    NumberSetting ackTimeout;  // bounds the connection attempt and, separately, the wait for "OK"
};

struct VarnexConfig {
    TextSetting driverName;
    SwitchSetting varnexMode;
    SwitchSetting signalMode;
    TextSetting signalFile;
    SwitchSetting signalDebugMode;
    TextSetting signalDebugFile;
    SwitchSetting socketClient;
    TextSetting clientID;                     // read only with socketClient on
    std::vector<EndpointSettings> endpoints;  // first listing of an identifier wins
    SwitchSetting logMode;
    TextSetting logFile;
    // Read with logMode on only, as logFile is (logRotate.read tells for
    // both). logRotate "daily" names the log by the date of its lines;
    // logKeepDays deletes the daily logs of older days (0 keeps every one).
    TextSetting logRotate;
    NumberSetting logKeepDays;
    // A destination that missed a symbol's position gets it again on the
    // symbol's next signal; off, nothing is retried.
    SwitchSetting resendMode;
    // A status file per host process in the driverName folder: each
    // destination's state and the positions owed to it, for varnex-status.
    SwitchSetting statusMode;
};

// Reads the keys in the library's order, each from the file once; a key
// behind a switch is read only when that switch is on, and the endpoint
// sections right after socketClient. Empty only when memory ran out.
std::optional<VarnexConfig> readVarnexConfig(const SettingsFile &settings) noexcept;

// One text for each value read that the library does not take as written,
// saying what it takes instead: a serverPort that is no TCP port, an
// ackTimeout or logKeepDays out of its range. The log has them once, when
// the configuration is read; the doctor shows them.
std::vector<std::string> valuesNotTakenAsWritten(const VarnexConfig &config);

// "SocketClient"/clientID and each listed identifier's "SC-" section.
// Throws only for want of memory.
std::vector<EndpointSettings> readEndpointSettings(const SettingsFile &settings,
                                                   TextSetting *clientID = nullptr);

}  // namespace varnex

#endif
