// The log: one file (driverName + logFile), or with daily rotation one file
// per day of its lines (see dailyLogName), the logs of old days deleted after
// a number of days. Lines are appended through a file kept open (see
// append_files.h).
//
// The day of a line is the day of its stamp, taken while the file's
// cross-process lock is held, so every process changes files at the first
// line of the new day, and a file holds only its own day's lines. Old daily
// logs are deleted by each process at its first line of each day (and its
// first line after loading); only names of the log's own daily pattern with
// a date of the calendar, never another file.
#ifndef VARNEX_OUTPUT_LOG_FILE_H
#define VARNEX_OUTPUT_LOG_FILE_H

#include <windows.h>

#include <optional>
#include <string>

#include "output/append_files.h"
#include "output/log_names.h"

namespace varnex {

class LogFile {
public:
    // `keepDays`: the days of daily logs kept, today's included; 0 keeps all.
    LogFile(const std::string &driverName, const std::string &logFile, bool daily, int keepDays,
            LocalClock clock = localNow);
    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;

    // One line per text, stamp and TAB first, all in one write with one stamp.
    bool append(const std::string *texts, size_t count);
    bool append(const std::string &text) { return append(&text, 1); }

    // The file that lines stamped on `date` go to.
    std::string pathOn(const CalendarDate &date) const;

private:
    void deleteOldLogs(const CalendarDate &today);

    const std::string driverName_, logFile_;
    const bool daily_;
    const std::string singlePath_;  // without rotation
    const int keepDays_;
    const LocalClock clock_;
    // Today's file only: a day's file is let go at the first line of the next.
    AppendFiles files_;
    // The day whose old logs this process has deleted; guarded by pruneLock_,
    // which is held across the deletions (a folder listing, once a day).
    SRWLOCK pruneLock_ = SRWLOCK_INIT;
    std::optional<CalendarDate> prunedOn_;
};

}  // namespace varnex

#endif
