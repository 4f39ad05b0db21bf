// varnex-doctor: reads the configuration with the library's own code and
// shows what the library would do with it, and what looks wrong.
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "api/endpoint_table.h"
#include "common/tool_win.h"
#include "config/settings_file.h"
#include "config/varnex_config.h"
#include "doctor/doctor_rules.h"
#include "net/tcp_relay.h"
#include "output/file_names.h"
#include "output/log_names.h"
#include "output/path_access.h"
#include "pipe/pipe_names.h"

using namespace varnex_tools;
using varnex::NumberSetting;
using varnex::SwitchSetting;
using varnex::TextSetting;

namespace {

constexpr const char *kUsage = "usage: varnex-doctor [--ini PATH] [--symbol SYMBOL]";
constexpr DWORD kBlockSize = 1 << 16;

int usage(const std::string &problem) {
    errorLine("varnex-doctor: " + problem + " (" + kUsage + ")");
    return 2;
}

std::string padded(const std::string &text, size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string origin(bool fromFile) { return fromFile ? "from the file" : "default"; }

void showText(const char *key, const TextSetting &setting, const char *switchName) {
    if (!setting.read) {
        outLine("  " + padded(key, 17) + padded("-", 40) + "not read: " + switchName + " is off");
        return;
    }
    outLine("  " + padded(key, 17) + padded(setting.value.empty() ? "(empty)" : setting.value, 40) +
            origin(setting.fromFile));
}

void showSwitch(const char *key, const SwitchSetting &setting) {
    std::string value = setting.on ? "on" : "off";
    if (setting.fromFile) value += "  (" + (setting.text.empty() ? std::string("empty") : setting.text) + ")";
    outLine("  " + padded(key, 17) + padded(value, 40) + origin(setting.fromFile));
}

std::string numberOrigin(const char *key, const NumberSetting &setting) {
    return std::string(key) + " " + origin(setting.fromFile);
}

std::vector<RawSection> rawSections(const std::string &iniName) {
    std::vector<RawSection> sections;
    std::vector<char> names(kBlockSize), block(kBlockSize);
    const DWORD length = GetPrivateProfileSectionNamesA(names.data(), kBlockSize, iniName.c_str());
    for (const RawEntry &name : parseSectionBlock(names.data(), length)) {
        const DWORD size =
            GetPrivateProfileSectionA(name.key.c_str(), block.data(), kBlockSize, iniName.c_str());
        sections.push_back({name.key, parseSectionBlock(block.data(), size)});
    }
    return sections;
}

FolderState inspectFolder(const std::string &folder) {
    FolderState state;
    state.checked = true;
    const std::string where = folder.empty() ? "." : folder;
    const DWORD attributes = GetFileAttributesA(where.c_str());
    state.exists = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!state.exists) return state;
    const std::string probe = folder + "varnex-doctor-" + std::to_string(GetCurrentProcessId()) + ".tmp";
    // Opened as the library opens its files: the probe's name may take it past MAX_PATH.
    HANDLE file = varnex::createFileAt(probe, GENERIC_WRITE, 0, CREATE_NEW,
                                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE);
    state.writable = file != INVALID_HANDLE_VALUE;
    if (state.writable) CloseHandle(file);
    return state;
}

void showNumber(const char *key, const NumberSetting &setting, const char *note) {
    std::string value = std::to_string(setting.value) + note;
    if (setting.fromFile) value += "  (" + (setting.text.empty() ? std::string("empty") : setting.text) + ")";
    outLine("  " + padded(key, 17) + padded(value, 40) + origin(setting.fromFile));
}

// The file that the library writes today's log lines to.
std::string todaysLog(const varnex::VarnexConfig &config) {
    const std::string &logFile = config.logFile.value;
    if (varnex::logRotationOf(config.logRotate.value) != varnex::LogRotation::Daily)
        return varnex::logPath(config.driverName.value.c_str(), logFile.c_str());
    SYSTEMTIME now;
    GetLocalTime(&now);
    const varnex::CalendarDate today = {now.wYear, now.wMonth, now.wDay};
    return varnex::logPath(config.driverName.value.c_str(), varnex::dailyLogName(logFile, today).c_str());
}

void showSymbol(const std::string &symbol, const varnex::VarnexConfig &config) {
    outLine("");
    outLine("A signal for " + symbol + " dated today whose position changed would:");
    const char *driver = config.driverName.value.c_str();
    if (config.signalMode.on) {
        outLine("  rewrite the signal file        " +
                varnex::signalPath(driver, symbol.c_str(), libraryFiles(config)));
        if (config.signalDebugMode.on)
            outLine("  append to the signal debug file " +
                    varnex::signalDebugPath(driver, symbol.c_str(), libraryFiles(config)));
    } else {
        outLine("  write no signal file (signalMode is off)");
    }
    if (config.logMode.on)
        outLine("  log to                         " + todaysLog(config));
    else
        outLine("  log nothing (logMode is off)");
    if (config.varnexMode.on)
        outLine("  go through the pipe            " + varnex::orderPipePath(true) +
                " to the process that registered its order function");
    else
        outLine("  not go to the order pipe (varnexMode is off)");
    const varnex::EndpointTable table =
        config.socketClient.on ? varnex::endpointTable(config.endpoints) : varnex::EndpointTable();
    const auto found = table.find(symbol);
    if (!config.socketClient.on)
        outLine("  not go to a TCP server (socketClient is off)");
    else if (found == table.end())
        outLine("  not go to a TCP server (" + symbol + " is not a client identifier in clientID)");
    else
        outLine("  go to the TCP server           " + found->second.host + ":" +
                std::to_string(found->second.port) + " as Order,<quantity>,<price>, waiting at most " +
                std::to_string(found->second.ackTimeout) + " ms to connect and again for \"OK\"");
}

}  // namespace

int main(int argc, char **argv) {
    std::string ini, symbol;
    bool haveSymbol = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--ini" && i + 1 < argc) {
            ini = argv[++i];
        } else if (arg == "--symbol" && i + 1 < argc) {
            symbol = argv[++i];
            haveSymbol = true;
        } else {
            return usage("unknown or incomplete option " + arg);
        }
    }
    // The library names the file without a folder, so Windows looks for it in
    // the Windows directory; --ini names a file anywhere.
    std::string iniName = varnex::kVarnexIniName, location;
    if (ini.empty()) {
        char windows[MAX_PATH];
        const UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
        location = std::string(windows, length) + "\\" + varnex::kVarnexIniName;
    } else {
        char full[MAX_PATH];
        const DWORD length = GetFullPathNameA(ini.c_str(), MAX_PATH, full, nullptr);
        if (length == 0 || length >= MAX_PATH) return usage("cannot use the path " + ini);
        iniName = location = std::string(full, length);
    }
    const DWORD attributes = GetFileAttributesA(location.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!ini.empty() && !exists) {
        errorLine("varnex-doctor: cannot read " + location + ": no such file");
        return 2;
    }
    outLine("Configuration file: " + location + (exists ? "" : "  (not found: every key takes its default)"));
    if (ini.empty())
        outLine("  (the library reads Varnex.ini from the Windows directory, never from the host's folder)");

    const std::optional<varnex::VarnexConfig> read =
        varnex::readVarnexConfig(varnex::SettingsFile(iniName.c_str()));
    if (!read) {
        errorLine("varnex-doctor: out of memory while reading " + location);
        return 2;
    }
    const varnex::VarnexConfig &config = *read;
    outLine("");
    outLine("[Setting]");
    showText("driverName", config.driverName, "");
    showSwitch("varnexMode", config.varnexMode);
    showSwitch("signalMode", config.signalMode);
    showText("signalFile", config.signalFile, "signalMode");
    showSwitch("signalDebugMode", config.signalDebugMode);
    showText("signalDebugFile", config.signalDebugFile, "signalDebugMode");
    showSwitch("socketClient", config.socketClient);
    showSwitch("logMode", config.logMode);
    showText("logFile", config.logFile, "logMode");
    if (config.logRotate.read) {
        const bool daily = varnex::logRotationOf(config.logRotate.value) == varnex::LogRotation::Daily;
        std::string rotation = daily ? "daily (a file per day)" : "off (one file)";
        if (config.logRotate.fromFile) rotation += "  (" + config.logRotate.value + ")";
        outLine("  " + padded("logRotate", 17) + padded(rotation, 40) + origin(config.logRotate.fromFile));
        showNumber("logKeepDays", config.logKeepDays,
                   config.logKeepDays.value == 0 ? " (keep every log)"
                   : daily                       ? " days, today's included"
                                                 : " (deletes nothing: logRotate is not daily)");
        outLine("  " + padded("today's log", 17) + todaysLog(config));
    } else {
        showText("logRotate", config.logRotate, "logMode");
        outLine("  " + padded("logKeepDays", 17) + padded("-", 40) + "not read: logMode is off");
    }
    showSwitch("resendMode", config.resendMode);
    showSwitch("statusMode", config.statusMode);
    outLine("[SocketClient]");
    showText("clientID", config.clientID, "socketClient");
    if (config.socketClient.on) {
        outLine("Endpoints (a symbol equal to the identifier goes to its server):");
        for (const varnex::EndpointSettings &endpoint : config.endpoints)
            outLine("  " + padded("\"" + endpoint.id + "\"", 17) +
                    padded(endpoint.serverIp.value + ":" + std::to_string(endpoint.serverPort.written) +
                               ", ackTimeout " + std::to_string(endpoint.ackTimeout.value) + " ms",
                           40) +
                    "serverIp " + origin(endpoint.serverIp.fromFile) + ", " +
                    numberOrigin("serverPort", endpoint.serverPort) + ", " +
                    numberOrigin("ackTimeout", endpoint.ackTimeout));
    }

    FolderState folder;
    if (config.signalMode.on || config.logMode.on)
        folder = inspectFolder(driverFolder(config.driverName.value));
    const std::vector<Finding> findings =
        checkConfiguration(config, exists ? rawSections(iniName) : std::vector<RawSection>(), folder,
                           haveSymbol ? std::optional<std::string>(symbol) : std::nullopt);
    if (haveSymbol) showSymbol(symbol, config);

    long warnings = 0, errors = 0;
    if (!findings.empty()) outLine("");
    for (const Finding &finding : findings) {
        outLine(std::string(finding.error ? "error: " : "warning: ") + finding.text);
        ++(finding.error ? errors : warnings);
    }
    outLine("");
    outLine("varnex-doctor: " + std::to_string(warnings) + " warnings, " + std::to_string(errors) +
            " errors");
    return errors > 0 ? 2 : warnings > 0 ? 1 : 0;
}
