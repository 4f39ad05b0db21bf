// The names of daily logs, and which of them are past keeping. Pure text and
// date work (no Win32 types), so it is unit-tested and fuzzed natively.
#ifndef VARNEX_OUTPUT_LOG_NAMES_H
#define VARNEX_OUTPUT_LOG_NAMES_H

#include <optional>
#include <string>

namespace varnex {

// A day of the local calendar, month and day from 1.
struct CalendarDate {
    int year, month, day;
};

bool operator==(const CalendarDate &a, const CalendarDate &b);
inline bool operator!=(const CalendarDate &a, const CalendarDate &b) { return !(a == b); }

// The daily name of `logFile` (a name under driverName, possibly with folders
// of its own): "-YYYYMMDD" before the extension of its last part, or at its
// end when that part has none ("VarnexMsg.txt" gives "VarnexMsg-20261209.txt",
// "logs\Varnex" gives "logs\Varnex-20261209"). The extension is what follows
// the last '.' of the last part, unless that '.' is its first character.
std::string dailyLogName(const std::string &logFile, const CalendarDate &date);

// A wildcard that every daily name of `logFile`'s last part matches (and
// others too: dailyLogDate tells them apart): "VarnexMsg-*.txt".
std::string dailyLogPattern(const std::string &logFile);

// The folder part of `logFile` (up to its last backslash or slash), empty
// when it has none.
std::string logFolderPart(const std::string &logFile);

// The date in `name` (a bare file name, as a folder listing gives it) when it
// is a daily name of `logFile`, compared as the file system does, without
// regard to letter case; nothing for any other name, and for eight digits
// that are no date of the calendar.
std::optional<CalendarDate> dailyLogDate(const std::string &name, const std::string &logFile);

// Days from 1970-01-01 in the proleptic Gregorian calendar.
long long dayNumber(const CalendarDate &date);

// Whether the daily log of `fileDate` is past keeping on `today` when the
// logs of `keepDays` days are kept, today's included: with 7, the logs of
// today and the six days before stay. 0 or less keeps every log.
bool pastKeeping(const CalendarDate &fileDate, const CalendarDate &today, int keepDays);

}  // namespace varnex

#endif
