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

HostResult runHost(const TempFolder &folder, const std::string &script, bool withConsole) {
    HostResult result;
    const std::string scriptPath = folder.file("script.txt");
    writeFile(scriptPath, script);

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        ADD_FAILURE() << "CreatePipe failed";
        return result;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = INVALID_HANDLE_VALUE;
    startup.hStdOutput = withConsole ? writeEnd : INVALID_HANDLE_VALUE;
    startup.hStdError = withConsole ? writeEnd : INVALID_HANDLE_VALUE;
    std::string command = "\"" + programFolder() + "test_host.exe\" \"" + scriptPath + "\"";
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE,
                                        withConsole ? 0 : DETACHED_PROCESS, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        ADD_FAILURE() << "cannot start test_host.exe (" << GetLastError() << ")";
        return result;
    }
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) result.output.append(buffer, got);
    CloseHandle(readEnd);
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 99);
        ADD_FAILURE() << "test_host.exe did not end within a minute";
    }
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
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
