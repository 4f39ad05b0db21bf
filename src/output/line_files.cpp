#include "output/line_files.h"

#include <windows.h>

#include <string>

#include "common/clock.h"
#include "common/handles.h"
#include "common/locks.h"
#include "output/file_names.h"
#include "output/path_access.h"
#include "text/fnv1a.h"
#include "text/stamped_lines.h"

namespace varnex {

namespace {

// Threads of this process that rewrite the same file take the same stripe
// first, so they queue here rather than retry each other's replace. A stripe
// is held only while one line is written: no console output, no callbacks.
constexpr unsigned kStripes = 16;
SRWLOCK stripes[kStripes] = {};

SRWLOCK &stripeOf(const std::string &path) {
    // Names differing only in letter case are one file.
    return stripes[fnv1a32IgnoringCase(path) % kStripes];
}

// How long a rewrite keeps trying to replace a target that someone holds
// open. Only a moment: a reader that holds the file longer makes it busy,
// and the line goes with a later signal rather than holding the host.
constexpr LONGLONG kReplaceRetryMs = 5;

std::string stampedLine(char separator, const char *text) {
    return outputLine(stampText(localNow()).c_str(), separator, text);
}

std::string folderOf(const std::string &path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool writeNewFile(const std::string &path, const std::string &line) {
    // Delete sharing, so that the copy of a thread the process's exit cut
    // off while it wrote, its handle still open, can be deleted at the exit
    // (it goes as the system closes the handle).
    UniqueHandle file(
        createFileAt(path, GENERIC_WRITE, FILE_SHARE_DELETE, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    return file && writeAll(file.get(), line);
}

LONGLONG millisecondsNow() {
    // The tick count moves in steps of about 16 ms on Windows: too coarse
    // for a bound of a few milliseconds.
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return count.QuadPart / (frequency.QuadPart / 1000 ? frequency.QuadPart / 1000 : 1);
}

bool isBusyError(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

DWORD rewriteLine(const std::string &path, char separator, const char *text) {
    const std::string line = stampedLine(separator, text);
    // Process and thread make the name unique on the machine; ".tmp" keeps it
    // out of a reader's "*.txt".
    const std::string temp = rewriteTempPath(folderOf(path), GetCurrentProcessId(), GetCurrentThreadId());
    SetLastError(ERROR_SUCCESS);
    if (!writeNewFile(temp, line)) {
        const DWORD error = lastErrorOr(ERROR_WRITE_FAULT);
        deleteFileAt(temp);
        return error;
    }
    // Windows refuses to replace a file that a reader holds without delete
    // sharing. The line is never written into the target in place, where a
    // reader could find it half-written: a target that stays busy past the
    // retries keeps its whole previous line.
    const LONGLONG deadline = millisecondsNow() + kReplaceRetryMs;
    DWORD error = ERROR_SUCCESS;
    for (;;) {
        if (replaceFileWith(temp, path)) return ERROR_SUCCESS;
        error = GetLastError();
        if (!isBusyError(error) || millisecondsNow() >= deadline) break;
        Sleep(1);
    }
    deleteFileAt(temp);
    return error == ERROR_SUCCESS ? ERROR_WRITE_FAULT : error;
}

}  // namespace

std::string rewriteTempPath(const std::string &folder, unsigned long processId, unsigned long threadId) {
    return folder + "~varnex." + std::to_string(processId) + "." + std::to_string(threadId) + ".tmp";
}

bool FileWrite::busy() const { return kind == Kind::SystemError && isBusyError(code); }

FileWrite rewriteStampedLine(const std::string &path, char separator, const char *text) {
    DWORD error;
    {
        ExclusiveLock guard(stripeOf(path));
        error = rewriteLine(path, separator, text);
    }
    return error == ERROR_SUCCESS ? FileWrite() : FileWrite::systemError(error);
}

}  // namespace varnex
