#include "text/stamped_lines.h"

#include "text/digits.h"

namespace varnex {

namespace {

void appendStamp(std::string &out, const LocalTime &time) {
    appendDecimal(out, time.year, 4);
    out += '/';
    appendDecimal(out, time.month, 2);
    out += '/';
    appendDecimal(out, time.day, 2);
    out += ' ';
    appendDecimal(out, time.hour, 2);
    out += ':';
    appendDecimal(out, time.minute, 2);
    out += ':';
    appendDecimal(out, time.second, 2);
}

// Everything of a line after its stamp.
void appendLineRest(std::string &out, char separator, const char *text) {
    out += separator;
    for (const char *c = text; *c != '\0'; ++c) {
        if (*c == '\n') out += '\r';
        out += *c;
    }
    out += "\r\n";
}

}  // namespace

std::string stampText(const LocalTime &time) {
    std::string out;
    out.reserve(19);
    appendStamp(out, time);
    return out;
}

std::string outputLine(const char *stamp, char separator, const char *text) {
    std::string line(stamp);
    appendLineRest(line, separator, text);
    return line;
}

void appendOutputLines(std::string &out, const LocalTime &time, char separator, const std::string *texts,
                       size_t count) {
    const size_t stampStart = out.size();
    appendStamp(out, time);
    const size_t stampLength = out.size() - stampStart;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) out.append(out, stampStart, stampLength);
        appendLineRest(out, separator, texts[i].c_str());
    }
}

}  // namespace varnex
