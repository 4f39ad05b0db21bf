#include "common/system_errors.h"

#include <windows.h>

namespace varnex {

namespace {

const char *errorName(unsigned long code) {
    // One case a line: a table to read down.
    // clang-format off
    switch (code) {
        case ERROR_FILE_NOT_FOUND: return "ERROR_FILE_NOT_FOUND";
        case ERROR_PATH_NOT_FOUND: return "ERROR_PATH_NOT_FOUND";
        case ERROR_ACCESS_DENIED: return "ERROR_ACCESS_DENIED";
        case ERROR_INVALID_HANDLE: return "ERROR_INVALID_HANDLE";
        case ERROR_NOT_ENOUGH_MEMORY: return "ERROR_NOT_ENOUGH_MEMORY";
        case ERROR_WRITE_PROTECT: return "ERROR_WRITE_PROTECT";
        case ERROR_WRITE_FAULT: return "ERROR_WRITE_FAULT";
        case ERROR_SHARING_VIOLATION: return "ERROR_SHARING_VIOLATION";
        case ERROR_LOCK_VIOLATION: return "ERROR_LOCK_VIOLATION";
        case ERROR_HANDLE_DISK_FULL: return "ERROR_HANDLE_DISK_FULL";
        case ERROR_INVALID_PARAMETER: return "ERROR_INVALID_PARAMETER";
        case ERROR_BROKEN_PIPE: return "ERROR_BROKEN_PIPE";
        case ERROR_OPEN_FAILED: return "ERROR_OPEN_FAILED";
        case ERROR_DISK_FULL: return "ERROR_DISK_FULL";
        case ERROR_SEM_TIMEOUT: return "ERROR_SEM_TIMEOUT";
        case ERROR_INVALID_NAME: return "ERROR_INVALID_NAME";
        case ERROR_ALREADY_EXISTS: return "ERROR_ALREADY_EXISTS";
        case ERROR_FILENAME_EXCED_RANGE: return "ERROR_FILENAME_EXCED_RANGE";
        case ERROR_PIPE_BUSY: return "ERROR_PIPE_BUSY";
        case ERROR_NO_DATA: return "ERROR_NO_DATA";
        case ERROR_PIPE_NOT_CONNECTED: return "ERROR_PIPE_NOT_CONNECTED";
        case ERROR_OPERATION_ABORTED: return "ERROR_OPERATION_ABORTED";
        case ERROR_IO_PENDING: return "ERROR_IO_PENDING";
        case ERROR_TIMEOUT: return "ERROR_TIMEOUT";
        default: return nullptr;
    }
    // clang-format on
}

}  // namespace

std::string systemMessage(unsigned long code) {
    char buffer[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
    while (length > 0 &&
           (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' || buffer[length - 1] == ' '))
        --length;
    return std::string(buffer, length);
}

std::string systemErrorText(unsigned long code) {
    const char *name = errorName(code);
    std::string text = std::string(name ? name : "error") + " (" + std::to_string(code) + ")";
    const std::string message = systemMessage(code);
    if (!message.empty()) text += " " + message;
    return text;
}

}  // namespace varnex
