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
// A target that someone holds open without delete sharing cannot be
// replaced: the replace is retried for a few milliseconds, then given up
// (a busy error), and the target keeps its previous line whole. No
// temporary file is left behind.
// Returns whether the line was written; `error` gets the system's error
// code (ERROR_SUCCESS when written).
bool writeStampedLine(const std::string &path, LineMode mode, char separator, const char *text,
                      unsigned long *error = nullptr);

// A write error that says someone else holds the file for now.
bool isBusyError(unsigned long error);

// Appends one stamped line per text in one locked write, each as an Append
// of writeStampedLine writes it: several lines cost one file operation.
bool appendStampedLines(const std::string &path, char separator, const std::vector<std::string> &texts);

}  // namespace varnex

#endif
