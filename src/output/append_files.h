// The files lines are appended to, kept open between calls: the log and the
// signal debug files. Opening and closing a file is what an append used to
// cost (a third of a millisecond under Wine, and on Windows a virus scanner
// inspects a file when it is closed after a write); a write to a handle that
// stays open costs a few microseconds.
//
// What other programs observe stays as it was with a file opened per line:
// - every line reaches the file (the system's cache) before append returns;
// - lines of all threads and processes that append through this class reach
//   the file whole, in one write each call, and their stamps are in file
//   order: each write happens under the file's cross-process guard (see
//   append_guard.h), and the stamp is taken while it is held;
// - files are opened sharing read, write and delete, so readers, other
//   processes that load the library and rotation tools are not refused
//   (except a reader that will not share write access with a writer);
// - a file renamed, deleted or replaced by another program is let go: before
//   each write the file at the path is compared with the one held, and the
//   next line after such a change goes to a file at the path, never into
//   the renamed or deleted one. A line written at the same moment as the
//   change stays where it went.
#ifndef VARNEX_OUTPUT_APPEND_FILES_H
#define VARNEX_OUTPUT_APPEND_FILES_H

#include <windows.h>

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>

#include "common/clock.h"
#include "output/append_guard.h"
#include "output/file_names.h"
#include "output/line_files.h"
#include "output/log_names.h"

namespace varnex {

// How many signal debug files stay open: the symbols that change most often
// keep theirs; a symbol beyond them opens its file again (and closes the one
// least recently used).
constexpr size_t kKeptDebugFiles = 64;

using LocalClock = LocalTime (*)();

class AppendFiles {
public:
    // At most `bound` files stay open; `clock` stamps the lines.
    explicit AppendFiles(size_t bound, LocalClock clock = localNow);
    // Closes every file it holds; waits for nothing.
    ~AppendFiles();
    AppendFiles(const AppendFiles &) = delete;
    AppendFiles &operator=(const AppendFiles &) = delete;

    // Appends stamp + separator + text + line end for each text, all in one
    // write, all with one stamp. With `onlyOn`, the stamp must fall on that
    // day, or nothing is written (OtherDay). Otherwise Written, or the
    // SystemError of the open or the write; a file that failed is opened
    // afresh by the next append.
    FileWrite append(const std::string &path, char separator, const std::string *texts, size_t count,
                     const CalendarDate *onlyOn = nullptr);

private:
    struct Entry;
    std::shared_ptr<Entry> entryFor(const std::string &path);

    const size_t bound_;
    const LocalClock clock_;
    AppendGuards guards_;
    // tableLock_ guards recent_ and byPath_ and is held for map and list
    // operations only. A file's own lock (Entry::lock) is held across its
    // check, open and write; the table lock is never taken while holding it.
    SRWLOCK tableLock_ = SRWLOCK_INIT;
    std::list<std::shared_ptr<Entry>> recent_;  // most recently used first
    std::unordered_map<std::string, std::list<std::shared_ptr<Entry>>::iterator> byPath_;
};

}  // namespace varnex

#endif
