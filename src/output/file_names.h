// Where the output files go and what one line holds. Pure text work, so it is
// unit-tested without touching a disk.
#ifndef VARNEX_OUTPUT_FILE_NAMES_H
#define VARNEX_OUTPUT_FILE_NAMES_H

#include <string>

namespace varnex {

// driverName is a prefix joined without a separator; it carries its own backslash.
std::string logPath(const char *driverName, const char *logFile);
std::string signalPath(const char *driverName, const char *symbol, const char *signalFile);
std::string signalDebugPath(const char *driverName, const char *symbol, const char *signalDebugFile);

// stamp + separator + text + "\n"; the file's text mode turns "\n" into CR LF.
std::string outputLine(const char *stamp, char separator, const char *text);

}  // namespace varnex

#endif
