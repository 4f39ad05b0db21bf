// Daily log names: the input is a log file name (up to its first NUL) and,
// after that NUL, a file name found in a folder. A daily name of the log
// reads back as its own date; a found name is taken for a daily log only
// when it is, byte for byte but for letter case, the daily name of the date
// it carries, and that date is one of the calendar.
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_check.h"
#include "output/log_names.h"

using varnex_fuzz::shown;

namespace {

std::string upper(std::string text) {
    for (char &c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string lastPart(const std::string &path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int monthDays(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leap(year) ? 29 : days[month - 1];
}

void checkRoundTrip(const std::string &logFile) {
    const varnex::CalendarDate day = {2026, 12, 9};
    const std::string name = lastPart(varnex::dailyLogName(logFile, day));
    const std::optional<varnex::CalendarDate> back = varnex::dailyLogDate(name, logFile);
    FUZZ_CHECK(back && *back == day, shown(logFile) + ": " + shown(name) + " does not read back");
}

void checkFound(const std::string &logFile, const std::string &found) {
    const std::optional<varnex::CalendarDate> date = varnex::dailyLogDate(found, logFile);
    if (!date) return;
    FUZZ_CHECK(date->month >= 1 && date->month <= 12 && date->day >= 1 &&
                   date->day <= monthDays(date->year, date->month),
               shown(found) + " gave no date of the calendar");
    FUZZ_CHECK(upper(found) == upper(lastPart(varnex::dailyLogName(logFile, *date))),
               shown(found) + " taken for a daily log of " + shown(logFile));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    const size_t nul = input.find('\0');
    const std::string logFile = input.substr(0, nul);
    checkRoundTrip(logFile);
    if (nul != std::string::npos) checkFound(logFile, input.substr(nul + 1));
    return 0;
}
