// Daily log names: the input is a log file name (up to its first NUL) and,
// after that NUL, a file name found in a folder. The daily name is checked
// against one built here straight from its rule, and reads back as its own
// date; a found name is taken for a daily log exactly when it is, byte for
// byte but for letter case, the daily name of the date it carries, and that
// date is one of the calendar.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "fuzz_check.h"
#include "output/log_names.h"

using varnex_fuzz::shown;

namespace {

// The rule, written afresh: the last part of the name (after its last
// backslash or slash) has an extension from its last '.', unless that '.'
// is the part's first character; "-YYYYMMDD" goes before the extension, or
// at the end when there is none. The name split where the date goes.
std::pair<std::string, std::string> aroundTheDate(const std::string &logFile) {
    size_t partStart = 0;
    for (size_t i = 0; i < logFile.size(); ++i)
        if (logFile[i] == '\\' || logFile[i] == '/') partStart = i + 1;
    size_t extension = logFile.size();
    for (size_t i = partStart + 1; i < logFile.size(); ++i)
        if (logFile[i] == '.') extension = i;
    return {logFile.substr(0, extension), logFile.substr(extension)};
}

std::string expectedDailyName(const std::string &logFile, int year, int month, int day) {
    char date[40];
    std::snprintf(date, sizeof date, "-%04d%02d%02d", year, month, day);
    const auto [before, after] = aroundTheDate(logFile);
    return before + date + after;
}

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

void checkDailyName(const std::string &logFile) {
    const varnex::CalendarDate day = {2026, 12, 9};
    const std::string name = varnex::dailyLogName(logFile, day);
    const std::string expected = expectedDailyName(logFile, 2026, 12, 9);
    FUZZ_CHECK(name == expected, shown(logFile) + " gave " + shown(name) + ", not " + shown(expected));
    const std::optional<varnex::CalendarDate> back = varnex::dailyLogDate(lastPart(name), logFile);
    FUZZ_CHECK(back && *back == day, shown(logFile) + ": " + shown(name) + " does not read back");
}

// The date a found name carries where the rule puts it, when those are
// eight digits of a day of the calendar and the name is, but for letter
// case, the daily name of that day.
std::optional<varnex::CalendarDate> expectedDate(const std::string &found, const std::string &logFile) {
    const auto [before, after] = aroundTheDate(logFile);
    const size_t digitsAt = lastPart(before).size() + 1;
    if (found.size() != digitsAt + 8 + after.size()) return std::nullopt;
    int digits[8];
    for (size_t i = 0; i < 8; ++i) {
        const char c = found[digitsAt + i];
        if (c < '0' || c > '9') return std::nullopt;
        digits[i] = c - '0';
    }
    const int year = digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3];
    const int month = digits[4] * 10 + digits[5], day = digits[6] * 10 + digits[7];
    if (month < 1 || month > 12 || day < 1 || day > monthDays(year, month)) return std::nullopt;
    if (upper(found) != upper(lastPart(expectedDailyName(logFile, year, month, day)))) return std::nullopt;
    return varnex::CalendarDate{year, month, day};
}

void checkFound(const std::string &logFile, const std::string &found) {
    const std::optional<varnex::CalendarDate> date = varnex::dailyLogDate(found, logFile);
    const std::optional<varnex::CalendarDate> expected = expectedDate(found, logFile);
    FUZZ_CHECK(date.has_value() == expected.has_value() && (!date || *date == *expected),
               shown(found) + (date ? " taken" : " not taken") + " for a daily log of " + shown(logFile));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    const size_t nul = input.find('\0');
    const std::string logFile = input.substr(0, nul);
    checkDailyName(logFile);
    if (nul != std::string::npos) checkFound(logFile, input.substr(nul + 1));
    return 0;
}
