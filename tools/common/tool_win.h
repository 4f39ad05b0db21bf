// What the console tools share at the Windows edge: loading Varnex.dll and
// resolving its exports, time stamps, console lines and the Ctrl+C stop.
#ifndef VARNEX_TOOLS_TOOL_WIN_H
#define VARNEX_TOOLS_TOOL_WIN_H

#include <windows.h>

#include <string>

#include "varnex.h"

namespace varnex_tools {

struct VarnexLibrary {
    HMODULE module = nullptr;
    std::string path;
    VarnexRegisterOrderFuncFn registerOrderFunc = nullptr;
    VarnexInitialFn initial = nullptr;
    VarnexProcessFn process = nullptr;
    VarnexWritelogFn writelog = nullptr;
};

// The folder of the running program, with a trailing backslash.
std::string programFolder();

// Loads `dllPath`, or Varnex.dll from the program's own folder when it is
// empty. On failure returns false with one line saying why in `error`.
bool loadVarnex(const std::string &dllPath, VarnexLibrary &library, std::string &error);

// Local time "YYYY/MM/DD hh:mm:ss.mmm".
std::string localStamp();

// One line on standard output (or error), flushed at once: the tools' output
// is read through pipes, where nothing else would flush it.
void outLine(const std::string &text);
void errorLine(const std::string &text);

// Ctrl+C, Ctrl+Break and closing the console set the stop event.
void catchStopSignals();
HANDLE stopEvent();
bool stopRequested();

}  // namespace varnex_tools

#endif
