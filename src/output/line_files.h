// Writing one line to an output file: the file is opened, written and closed
// per line, in text mode, so each line end reaches the disk as CR LF.
#ifndef VARNEX_OUTPUT_LINE_FILES_H
#define VARNEX_OUTPUT_LINE_FILES_H

#include <string>

namespace varnex {

// Local time as "%Y/%m/%d %X" into an 80-byte buffer.
void makeTimestamp(char *buffer);

enum class LineMode { Append, Rewrite };

// Writes stamp + separator + text + line end. The stamp is taken inside the
// same critical section as the write, so lines of concurrent writers are
// neither torn nor out of time order. A file that cannot be opened is skipped
// silently; the next call tries again. Returns whether the line was written.
bool writeStampedLine(const std::string &path, LineMode mode, char separator, const char *text);

}  // namespace varnex

#endif
