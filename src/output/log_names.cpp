#include "output/log_names.h"

#include "text/ascii_case.h"
#include "text/digits.h"

namespace varnex {

namespace {

size_t lastPartStart(const std::string &path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? 0 : slash + 1;
}

// Where the extension of the last part starts (its '.'), or the end.
size_t extensionStart(const std::string &path) {
    const size_t part = lastPartStart(path);
    const size_t dot = path.find_last_of('.');
    return dot == std::string::npos || dot <= part ? path.size() : dot;
}

bool sameIgnoringCase(const std::string &a, size_t at, const std::string &b) {
    if (a.size() < at + b.size()) return false;
    for (size_t i = 0; i < b.size(); ++i)
        if (asciiUpper(a[at + i]) != asciiUpper(b[i])) return false;
    return true;
}

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

}  // namespace

bool operator==(const CalendarDate &a, const CalendarDate &b) {
    return a.year == b.year && a.month == b.month && a.day == b.day;
}

std::string dailyLogName(const std::string &logFile, const CalendarDate &date) {
    const size_t extension = extensionStart(logFile);
    std::string name = logFile.substr(0, extension);
    name += '-';
    appendDecimal(name, date.year, 4);
    appendDecimal(name, date.month, 2);
    appendDecimal(name, date.day, 2);
    name += logFile.substr(extension);
    return name;
}

std::string dailyLogPattern(const std::string &logFile) {
    const size_t part = lastPartStart(logFile), extension = extensionStart(logFile);
    return logFile.substr(part, extension - part) + "-*" + logFile.substr(extension);
}

std::string logFolderPart(const std::string &logFile) { return logFile.substr(0, lastPartStart(logFile)); }

std::optional<CalendarDate> dailyLogDate(const std::string &name, const std::string &logFile) {
    const size_t part = lastPartStart(logFile), extension = extensionStart(logFile);
    const std::string stem = logFile.substr(part, extension - part) + "-";
    const std::string suffix = logFile.substr(extension);
    constexpr size_t kDigits = 8;
    if (name.size() != stem.size() + kDigits + suffix.size()) return std::nullopt;
    if (!sameIgnoringCase(name, 0, stem) || !sameIgnoringCase(name, stem.size() + kDigits, suffix))
        return std::nullopt;
    int digits[kDigits];
    for (size_t i = 0; i < kDigits; ++i) {
        const char c = name[stem.size() + i];
        if (c < '0' || c > '9') return std::nullopt;
        digits[i] = c - '0';
    }
    const CalendarDate date = {digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3],
                               digits[4] * 10 + digits[5], digits[6] * 10 + digits[7]};
    if (date.month < 1 || date.month > 12 || date.day < 1 || date.day > daysInMonth(date.year, date.month))
        return std::nullopt;
    return date;
}

long long dayNumber(const CalendarDate &date) {
    // Howard Hinnant's days_from_civil: eras of 400 years, March first.
    const long long y = static_cast<long long>(date.year) - (date.month <= 2 ? 1 : 0);
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yearOfEra = y - era * 400;
    const long long dayOfYear = (153 * (date.month + (date.month > 2 ? -3 : 9)) + 2) / 5 + date.day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool pastKeeping(const CalendarDate &fileDate, const CalendarDate &today, int keepDays) {
    if (keepDays <= 0) return false;
    return dayNumber(today) - dayNumber(fileDate) >= keepDays;
}

}  // namespace varnex
