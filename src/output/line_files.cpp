#include "output/line_files.h"

#include <windows.h>

#include <cstdio>
#include <ctime>

#include "common/locks.h"
#include "output/file_names.h"

namespace varnex {

namespace {
// One lock for all output files: the host's threads and the pipe reader may
// write the same log at once, and a line must reach the file whole.
SRWLOCK outputLock = SRWLOCK_INIT;
}  // namespace

void makeTimestamp(char *buffer) {
    std::time_t now = std::time(nullptr);
    // msvcrt's localtime result lives in per-thread storage.
    const std::tm *local = std::localtime(&now);
    if (!local || std::strftime(buffer, 80, "%Y/%m/%d %X", local) == 0) buffer[0] = '\0';
}

bool writeStampedLine(const std::string &path, LineMode mode, char separator, const char *text) {
    ExclusiveLock guard(outputLock);
    std::FILE *file = std::fopen(path.c_str(), mode == LineMode::Append ? "a" : "w");
    if (!file) return false;
    char stamp[80];
    makeTimestamp(stamp);
    const std::string line = outputLine(stamp, separator, text);
    const bool written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
    return (std::fclose(file) == 0) && written;
}

}  // namespace varnex
