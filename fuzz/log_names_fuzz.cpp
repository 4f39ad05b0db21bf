// Daily log names: the input is a log file name (up to its first NUL) and,
// after that NUL, a file name found in a folder. A daily name of the log
// reads back as its own date; a found name is taken for a daily log only
// when it is, byte for byte but for letter case, the daily name of the date
// it carries, and that date is one of the calendar. The first 12 bytes, as
// three int32, are a date whose day number moves by one from day to day.
#include <cstdint>
#include <cstring>
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

void checkDays(const uint8_t *data) {
    int32_t raw[3];
    std::memcpy(raw, data, sizeof raw);
    const int year = 1 + static_cast<int>(static_cast<uint32_t>(raw[0]) % 9999);
    const int month = 1 + static_cast<int>(static_cast<uint32_t>(raw[1]) % 12);
    const int day = 1 + static_cast<int>(static_cast<uint32_t>(raw[2]) % monthDays(year, month));
    varnex::CalendarDate next = {year, month, day + 1};
    if (next.day > monthDays(year, month))
        next = {month == 12 ? year + 1 : year, month == 12 ? 1 : month + 1, 1};
    const long long step = varnex::dayNumber(next) - varnex::dayNumber({year, month, day});
    FUZZ_CHECK(step == 1, std::to_string(year) + "-" + std::to_string(month) + "-" + std::to_string(day) +
                              " to the next day is " + std::to_string(step) + " days");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    const size_t nul = input.find('\0');
    const std::string logFile = input.substr(0, nul);
    checkRoundTrip(logFile);
    if (nul != std::string::npos) checkFound(logFile, input.substr(nul + 1));
    if (size >= 12) checkDays(data);
    return 0;
}
