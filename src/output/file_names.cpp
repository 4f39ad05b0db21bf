#include "output/file_names.h"

namespace varnex {

namespace {
bool isEmpty(const char *symbol) { return symbol[0] == '\0'; }
}  // namespace

std::string logPath(const char *driverName, const char *logFile) {
    return std::string(driverName) + logFile;
}

std::string signalPath(const char *driverName, const char *symbol, const char *signalFile) {
    if (isEmpty(symbol)) return std::string(driverName) + signalFile;
    return std::string(driverName) + symbol + ".txt";
}

std::string signalDebugPath(const char *driverName, const char *symbol, const char *signalDebugFile) {
    if (isEmpty(symbol)) return std::string(driverName) + signalDebugFile;
    return std::string(driverName) + symbol + "_debug" + ".txt";
}

std::string outputLine(const char *stamp, char separator, const char *text) {
    std::string line(stamp);
    line += separator;
    line += text;
    line += '\n';
    return line;
}

}  // namespace varnex
