#include "output/log_file.h"

#include "common/locks.h"
#include "output/file_names.h"
#include "output/path_access.h"

namespace varnex {

namespace {

// A clock set back and forth across midnight could make the day of the
// file and of the stamp differ every time; after this many tries the lines
// go to the file of the day the try began with.
constexpr int kDayTries = 3;

CalendarDate dateOf(const LocalTime &time) { return {time.year, time.month, time.day}; }

}  // namespace

LogFile::LogFile(const std::string &driverName, const std::string &logFile, bool daily, int keepDays,
                 LocalClock clock)
    : driverName_(driverName),
      logFile_(logFile),
      daily_(daily),
      singlePath_(logPath(driverName.c_str(), logFile.c_str())),
      keepDays_(keepDays),
      clock_(clock),
      files_(1, clock) {}

std::string LogFile::pathOn(const CalendarDate &date) const {
    return daily_ ? logPath(driverName_.c_str(), dailyLogName(logFile_, date).c_str()) : singlePath_;
}

bool LogFile::append(const std::string *texts, size_t count) {
    if (!daily_) return files_.append(singlePath_, '\t', texts, count).written();
    for (int attempt = 1;; ++attempt) {
        const CalendarDate today = dateOf(clock_());
        deleteOldLogs(today);
        const FileWrite result =
            files_.append(pathOn(today), '\t', texts, count, attempt < kDayTries ? &today : nullptr);
        if (result.kind != FileWrite::Kind::OtherDay) return result.written();
    }
}

void LogFile::deleteOldLogs(const CalendarDate &today) {
    if (keepDays_ <= 0) return;
    {
        // Every line but a day's first finds the day done.
        SharedLock guard(pruneLock_);
        if (prunedOn_ && *prunedOn_ == today) return;
    }
    ExclusiveLock guard(pruneLock_);
    if (prunedOn_ && *prunedOn_ == today) return;
    prunedOn_ = today;
    // The pattern narrows the listing; the exact rule is dailyLogDate's.
    const std::string folder = driverName_ + logFolderPart(logFile_);
    for (const std::string &name : fileNamesIn(folder, dailyLogPattern(logFile_))) {
        const std::optional<CalendarDate> date = dailyLogDate(name, logFile_);
        if (date && pastKeeping(*date, today, keepDays_)) deleteFileAt(folder + name);
    }
}

}  // namespace varnex
