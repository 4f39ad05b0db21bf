#include "common/tool_win.h"

#include <cstdio>

#include "common/tool_text.h"

namespace varnex_tools {

namespace {

HANDLE stopped = CreateEventA(nullptr, TRUE, FALSE, nullptr);

BOOL WINAPI onConsoleEvent(DWORD) {
    SetEvent(stopped);
    return TRUE;
}

}  // namespace

std::string programFolder() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string full(path, length);
    return full.substr(0, full.find_last_of("\\/") + 1);
}

bool loadVarnex(const std::string &dllPath, VarnexLibrary &library, std::string &error) {
    library.path = dllPath.empty() ? programFolder() + "Varnex.dll" : dllPath;
    // No "cannot find" dialog box: a missing DLL is reported on the console.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    library.module = LoadLibraryA(library.path.c_str());
    if (!library.module) {
        error = "cannot load " + library.path + ": " + loadErrorText(GetLastError());
        return false;
    }
    library.registerOrderFunc =
        reinterpret_cast<VarnexRegisterOrderFuncFn>(GetProcAddress(library.module, "_RegisterOrderFunc"));
    library.initial = reinterpret_cast<VarnexInitialFn>(GetProcAddress(library.module, "_initial"));
    library.process = reinterpret_cast<VarnexProcessFn>(GetProcAddress(library.module, "_process"));
    library.writelog = reinterpret_cast<VarnexWritelogFn>(GetProcAddress(library.module, "_writelog"));
    if (!library.registerOrderFunc || !library.initial || !library.process || !library.writelog) {
        error = "cannot use " + library.path + ": " + loadErrorText(127);
        return false;
    }
    return true;
}

std::string localStamp() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[40];
    std::snprintf(text, sizeof text, "%04u/%02u/%02u %02u:%02u:%02u.%03u", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    return text;
}

void outLine(const std::string &text) {
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void errorLine(const std::string &text) {
    std::fputs((text + "\n").c_str(), stderr);
    std::fflush(stderr);
}

void catchStopSignals() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

HANDLE stopEvent() { return stopped; }

bool stopRequested() { return WaitForSingleObject(stopped, 0) == WAIT_OBJECT_0; }

}  // namespace varnex_tools
