// Writing one line to an output file. Each file is opened, written and closed
// per line, shared so that users may open, copy, rename and delete it while
// the host runs, and other processes that load the library may write the same
// files at the same time. Paths may be of any length the configuration
// allows (see path_access.h).
#ifndef VARNEX_OUTPUT_LINE_FILES_H
#define VARNEX_OUTPUT_LINE_FILES_H

#include <string>
#include <vector>

#include "output/file_names.h"

namespace varnex {

// The system's local time now.
LocalTime localNow();

// Local time as "YYYY/MM/DD HH:MM:SS" into an 80-byte buffer.
void makeTimestamp(char *buffer);

enum class LineMode { Append, Rewrite };

// Writes stamp + separator + text + line end (see outputLine).
// Append: one write at the end of the file while a byte-range lock far beyond
// any data is held, so lines of every process reach the file whole, none is
// lost, and the stamp order is the file order.
// Rewrite: the line goes to a fresh file in the same folder that then
// replaces the target in one step, so a reader always finds one whole line.
// A file that anyone holds open cannot be replaced: the replace is retried
// for up to 200 ms, and if readers hold the target all that time the line is
// written into it in place instead (so it is not lost, though such a reader
// may then see it half-written). No temporary file is left behind.
// A file that cannot be written is skipped silently; the next call tries
// again. Returns whether the line was written.
bool writeStampedLine(const std::string &path, LineMode mode, char separator, const char *text);

// Appends one stamped line per text in one locked write, each as an Append
// of writeStampedLine writes it: several lines cost one file operation.
bool appendStampedLines(const std::string &path, char separator, const std::vector<std::string> &texts);

}  // namespace varnex

#endif
