#include "replay/csv_signals.h"

#include <cctype>
#include <cmath>
#include <locale>
#include <sstream>
#include <vector>

#include "common/tool_text.h"
#include "text/ascii_case.h"

namespace varnex_tools {

using varnex::asciiLower;

namespace {

std::string trimmed(const std::string &text) {
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

std::vector<std::string> fields(const std::string &line) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t comma = line.find(',', start);
        out.push_back(trimmed(line.substr(start, comma - start)));
        if (comma == std::string::npos) return out;
        start = comma + 1;
    }
}

bool allDigits(const std::string &text) {
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return !text.empty();
}

ParsedLine bad(std::string error) {
    ParsedLine parsed;
    parsed.kind = LineKind::Bad;
    parsed.error = std::move(error);
    return parsed;
}

}  // namespace

bool isRealDate(int64_t year, int64_t month, int64_t day) {
    if (year < 1 || month < 1 || month > 12 || day < 1) return false;
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int64_t last = month == 2 && leap ? 29 : days[month - 1];
    return day <= last;
}

bool parsePrice(const std::string &text, double &price) {
    if (text.empty()) return false;
    // Only digits, one full stop, a sign and an exponent: no "inf", "nan" or hex.
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.' && c != '+' && c != '-' && c != 'e' &&
            c != 'E')
            return false;
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    double value = 0;
    in >> value;
    if (in.fail() || in.peek() != std::char_traits<char>::eof() || !std::isfinite(value)) return false;
    price = value;
    return true;
}

ParsedLine parseSignalLine(const std::string &rawLine, bool firstLine) {
    const std::string line = trimmed(rawLine);
    if (line.empty() || line[0] == '#') return ParsedLine();
    const std::vector<std::string> f = fields(line);
    if (firstLine && asciiLower(f[0]) == "date") return ParsedLine();
    if (f.size() != 4)
        return bad("expected 4 fields (date,symbol,quantity,price), found " + std::to_string(f.size()));
    ParsedLine parsed;
    parsed.kind = LineKind::Signal;
    CsvSignal &signal = parsed.signal;
    if (asciiLower(f[0]) == "today") {
        signal.today = true;
    } else {
        const std::string &d = f[0];
        if (d.size() != 10 || d[4] != '-' || d[7] != '-' || !allDigits(d.substr(0, 4)) ||
            !allDigits(d.substr(5, 2)) || !allDigits(d.substr(8, 2)))
            return bad("date \"" + d + "\" is not YYYY-MM-DD or today");
        signal.year = std::stoi(d.substr(0, 4));
        signal.month = std::stoi(d.substr(5, 2));
        signal.day = std::stoi(d.substr(8, 2));
        if (!isRealDate(signal.year, signal.month, signal.day)) return bad("date " + d + " does not exist");
    }
    if (f[1].empty()) return bad("symbol is empty");
    signal.symbol = f[1];
    int64_t quantity = 0;
    if (!parseInteger(f[2], INT32_MIN, INT32_MAX, quantity))
        return bad("quantity \"" + f[2] + "\" is not a 32-bit integer");
    signal.quantity = static_cast<int32_t>(quantity);
    if (!parsePrice(f[3], signal.price))
        return bad("price \"" + f[3] + "\" is not a number (use a full stop)");
    return parsed;
}

}  // namespace varnex_tools
