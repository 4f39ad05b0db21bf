// The signal file's rewrite: opened, written and replaced per line, shared
// so that users may open, copy, rename and delete it while the host runs,
// and other processes that load the library may write the same files at the
// same time. Appends (the log, the debug files) go through files kept open
// (append_files.h). Paths may be of any length the configuration allows (see
// path_access.h).
#ifndef VARNEX_OUTPUT_LINE_FILES_H
#define VARNEX_OUTPUT_LINE_FILES_H

#include <cstdint>
#include <string>

namespace varnex {

// The new copy a thread writes before it replaces a signal file: unique on
// the machine per process and thread, and no reader's "*.txt".
std::string rewriteTempPath(const std::string &folder, unsigned long processId, unsigned long threadId);

// What a write of stamped lines to a file came to.
struct FileWrite {
    enum class Kind {
        Written,
        // The lines were stamped on another day than the caller asked for,
        // and were not written.
        OtherDay,
        // The open, write or replace failed with the system's error `code`.
        SystemError,
    };
    Kind kind = Kind::Written;
    unsigned long code = 0;  // of a SystemError; 0 otherwise

    static FileWrite systemError(unsigned long code) { return {Kind::SystemError, code}; }
    bool written() const { return kind == Kind::Written; }
    // A system error that says someone else holds the file for now.
    bool busy() const;
};

// Writes stamp + separator + text + line end (see outputLine) as the file's
// only line: the line goes to a fresh file in the same folder that then
// replaces the target in one step, so a reader always finds one whole line.
// A target that someone holds open without delete sharing cannot be
// replaced: the replace is retried for a few milliseconds, then given up
// (a busy error), and the target keeps its previous line whole. No
// temporary file is left behind. Written, or a SystemError.
FileWrite rewriteStampedLine(const std::string &path, char separator, const char *text);

}  // namespace varnex

#endif
