#include "integration/host_runner.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace varnex_test {

namespace {

std::string programFolder() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

}  // namespace

namespace {

const char *const kIsolatedEnd = "ISOLATED HOST END";

std::string windowsPath(std::string path) {
    for (char &c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

// A shell script that starts the host inside a private mount namespace with
// its own resolv.conf, written through Wine's Z: drive. Wine gives a Unix
// child neither our pipe nor a process handle to wait on, so the script
// writes the host's output to <base>.out, and the host's script is given a
// last line that prints kIsolatedEnd. Returns <base>, a Unix path.
std::string isolatedLauncher(const std::string &scriptPath, const std::string &resolver) {
    static unsigned counter = 0;
    const std::string base =
        "/tmp/varnex_host_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter);
    writeFile(windowsPath(base + ".conf"), "nameserver " + resolver + "\n");
    // Wine passes its own variables to Unix children only in part; the
    // loader of this program's bitness is the fallback.
    const std::string loader = sizeof(void *) == 8 ? "/usr/lib/wine/wine64" : "/usr/lib/wine/wine";
    writeFile(
        windowsPath(base + ".sh"),
        "rc=" + base + ".conf\n" +
            "exec unshare -m sh -c 'mount --bind \"$0\" /etc/resolv.conf && shift && exec \"$@\"' \"$rc\" x "
            "\"${WINELOADER:-" +
            loader + "}\" '" + programFolder() + "test_host.exe' '" + scriptPath + "' >" + base +
            ".out 2>&1\n");
    return base;
}

// Starts test_host.exe on a script; the caller owns both handles it returns.
bool startHost(const TempFolder &folder, const std::string &scriptName, const std::string &script,
               HostConsole console, const std::string &resolver, HANDLE &process, HANDLE &output,
               std::string &isolatedBase) {
    const bool withConsole = console != HostConsole::None;
    const std::string scriptPath = folder.file(scriptName);
    writeFile(scriptPath, resolver.empty() ? script : script + "\njoin\necho|" + kIsolatedEnd + "\n");
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&output, &writeEnd, &inherit, 1 << 16)) {
        ADD_FAILURE() << "CreatePipe failed";
        return false;
    }
    SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = INVALID_HANDLE_VALUE;
    startup.hStdOutput = withConsole ? writeEnd : INVALID_HANDLE_VALUE;
    startup.hStdError = withConsole ? writeEnd : INVALID_HANDLE_VALUE;
    std::string command = "\"" + programFolder() + "test_host.exe\" \"" + scriptPath + "\"";
    const char *application = nullptr;
    if (!resolver.empty()) {
        isolatedBase = isolatedLauncher(scriptPath, resolver);
        command = "/bin/sh " + isolatedBase + ".sh";
        application = "Z:\\bin\\sh";
    }
    PROCESS_INFORMATION info = {};
    const BOOL started =
        CreateProcessA(application, &command[0], nullptr, nullptr, TRUE, withConsole ? 0 : DETACHED_PROCESS,
                       nullptr, nullptr, &startup, &info);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(output);
        ADD_FAILURE() << "cannot start test_host.exe (" << GetLastError() << ")";
        return false;
    }
    if (info.hThread) CloseHandle(info.hThread);
    process = info.hProcess;
    return true;
}

}  // namespace

HostProcess::HostProcess(const TempFolder &folder, const std::string &scriptName, const std::string &script,
                         bool withConsole) {
    start(folder, scriptName, script, withConsole ? HostConsole::Read : HostConsole::None, std::string());
}

HostProcess::HostProcess(const TempFolder &folder, const std::string &scriptName, const std::string &script,
                         HostConsole console, const std::string &resolver) {
    start(folder, scriptName, script, console, resolver);
}

void HostProcess::start(const TempFolder &folder, const std::string &scriptName, const std::string &script,
                        HostConsole console, const std::string &resolver) {
    HANDLE process = nullptr, output = nullptr;
    if (!startHost(folder, scriptName, script, console, resolver, process, output, isolated_)) return;
    process_ = process;
    output_ = output;
    if (console == HostConsole::NeverRead) return;
    reader_ = std::thread([this] {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(output_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            collected_.append(buffer, got);
        }
    });
}

HostProcess::~HostProcess() {
    if (process_) {
        if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 10000);
    }
    if (reader_.joinable()) reader_.join();
    if (process_) CloseHandle(process_);
    if (output_) CloseHandle(output_);
}

std::string HostProcess::collected() {
    if (!isolated_.empty()) return readFile(windowsPath(isolated_ + ".out"));
    std::lock_guard<std::mutex> lock(mutex_);
    return collected_;
}

bool HostProcess::waitForOutput(const std::string &text, unsigned limitMs) {
    const ULONGLONG deadline = GetTickCount64() + limitMs;
    for (;;) {
        if (collected().find(text) != std::string::npos) return true;
        if (GetTickCount64() > deadline) return false;
        Sleep(5);
    }
}

HostResult HostProcess::finish() {
    HostResult result;
    if (!isolated_.empty()) {
        // The host's last line comes just before it exits.
        if (!waitForOutput(kIsolatedEnd, 120000))
            ADD_FAILURE() << "the isolated host did not end: " << isolated_;
        Sleep(200);
        result.output = collected();
        for (const char *part : {".sh", ".conf", ".out"}) DeleteFileA(windowsPath(isolated_ + part).c_str());
        return result;
    }
    if (!process_) return result;
    if (WaitForSingleObject(process_, 120000) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 99);
        ADD_FAILURE() << "test_host.exe did not end within two minutes";
    }
    if (reader_.joinable()) reader_.join();
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    result.exitCode = code;
    result.output = collected();
    return result;
}

HostResult runHost(const TempFolder &folder, const std::string &script, bool withConsole) {
    HostProcess host(folder, "script.txt", script, withConsole);
    return host.finish();
}

std::string iniPath() {
    char windows[MAX_PATH];
    UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows, length) + "\\Varnex.ini";
}

void writeIni(const std::string &content) { writeFile(iniPath(), content); }

void removeIni() { DeleteFileA(iniPath().c_str()); }

std::string settingIni(const TempFolder &folder, const std::string &extraLines) {
    return "[Setting]\r\ndriverName=" + folder.path() + "\r\n" + extraLines;
}

}  // namespace varnex_test
