// What one line of the log, a signal file or a debug file holds on disk: a
// stamp of the local time, a separator and the text. Pure, so the clock is
// passed in (common/clock.h reads it).
#ifndef VARNEX_TEXT_STAMPED_LINES_H
#define VARNEX_TEXT_STAMPED_LINES_H

#include <cstddef>
#include <string>

namespace varnex {

// Local time fields, month and day from 1.
struct LocalTime {
    int year, month, day, hour, minute, second;
};

// "YYYY/MM/DD HH:MM:SS", 24-hour, ASCII digits whatever the host's locale.
std::string stampText(const LocalTime &time);

// The bytes of one line as the C runtime's text mode wrote them: stamp,
// separator, text and a line end, with every "\n" (those inside the text
// too) written as CR LF.
std::string outputLine(const char *stamp, char separator, const char *text);
// Appends to `out` one line per text as outputLine makes it, all with the
// stamp of `time`. A caller that keeps `out` between calls builds its lines
// without allocating once its capacity has grown to them.
void appendOutputLines(std::string &out, const LocalTime &time, char separator, const std::string *texts,
                       size_t count);

}  // namespace varnex

#endif
