#include "integration/host_runner.h"

#include <windows.h>

#include <gtest/gtest.h>

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

// Starts test_host.exe on a script; the caller owns both handles it returns.
bool startHost(const TempFolder &folder, const std::string &scriptName, const std::string &script,
               bool withConsole, HANDLE &process, HANDLE &output) {
    const std::string scriptPath = folder.file(scriptName);
    writeFile(scriptPath, script);
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
    PROCESS_INFORMATION info = {};
    const BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE,
                                        withConsole ? 0 : DETACHED_PROCESS, nullptr, nullptr, &startup, &info);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(output);
        ADD_FAILURE() << "cannot start test_host.exe (" << GetLastError() << ")";
        return false;
    }
    CloseHandle(info.hThread);
    process = info.hProcess;
    return true;
}

}  // namespace

HostProcess::HostProcess(const TempFolder &folder, const std::string &scriptName, const std::string &script,
                         bool withConsole) {
    HANDLE process = nullptr, output = nullptr;
    if (!startHost(folder, scriptName, script, withConsole, process, output)) return;
    process_ = process;
    output_ = output;
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
