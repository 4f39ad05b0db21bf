// One line of a replay file: "date,symbol,quantity,price", the date as
// YYYY-MM-DD or "today". Pure and locale-independent: a price always uses a
// full stop, whatever the machine's regional settings.
#ifndef VARNEX_TOOLS_CSV_SIGNALS_H
#define VARNEX_TOOLS_CSV_SIGNALS_H

#include <cstdint>
#include <string>

namespace varnex_tools {

struct CsvSignal {
    bool today = false;  // the date was "today"; year/month/day are then unset
    int32_t year = 0;
    int32_t month = 0;
    int32_t day = 0;
    std::string symbol;
    int32_t quantity = 0;
    double price = 0;
};

enum class LineKind { Signal, Skip, Bad };

struct ParsedLine {
    LineKind kind = LineKind::Skip;
    CsvSignal signal;
    std::string error;  // for Bad: what is wrong
};

// Blank lines and lines starting with '#' are skipped; so is a header line
// ("date,symbol,...") when it is the file's first line.
ParsedLine parseSignalLine(const std::string &line, bool firstLine);

bool isRealDate(int64_t year, int64_t month, int64_t day);

// A decimal number with a full stop; finite; nothing else on the field.
bool parsePrice(const std::string &text, double &price);

}  // namespace varnex_tools

#endif
