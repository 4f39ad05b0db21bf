// Lines for the host's console, written with one WriteFile on the standard
// handle. The C runtime's stream functions take a lock of their own that
// every thread printing through them shares, so a console nobody drains
// would hold those threads too; a direct write holds only the caller.
#ifndef VARNEX_COMMON_CONSOLE_H
#define VARNEX_COMMON_CONSOLE_H

#include <windows.h>

#include <string>

namespace varnex {

enum class ConsoleStream { Output, Error };

// Writes `text` as it stands (the caller puts in its own CR LF). A host
// without a console has no standard handle, and then nothing is written.
inline void writeConsole(ConsoleStream stream, const std::string &text) noexcept {
    const HANDLE handle =
        GetStdHandle(stream == ConsoleStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) return;
    DWORD written = 0;
    WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace varnex

#endif
