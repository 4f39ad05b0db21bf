// The cross-process guard of appends: one word per file in memory that every
// process of the session maps (a named file mapping), taken with an
// interlocked compare-exchange. It costs no system call when it is free,
// where a byte-range lock or a named mutex costs two (two wineserver round
// trips under Wine, 10 to 50 us; see bench/report.md).
//
// A word holds 0 or the id of the thread holding it (thread ids are unique
// on the machine while the thread lives). The kernel frees a byte-range lock
// or a mutex of a thread that dies; this guard does it itself: a waiter that
// finds the holder's thread gone takes the word over, and a holder that
// keeps it for kStealAfterMs (a suspended or stuck thread: an append holds
// it for one WriteFile) has it taken over too, so no host thread waits for
// ever. The holder's own release then finds another id and leaves the word
// alone.
//
// A file's word is found by its full path, letter case ignored; two files
// that meet in one of the kSlots words share a guard, which costs only a
// wait. Processes of other sessions (services) map another word: their lines
// stay whole on Windows, where an append-only write is atomic, but their
// stamps may come out of file order against this session's.
#ifndef VARNEX_OUTPUT_APPEND_GUARD_H
#define VARNEX_OUTPUT_APPEND_GUARD_H

#include <windows.h>

#include <cstddef>
#include <string>

#include "common/handles.h"

namespace varnex {

class AppendGuards {
public:
    static constexpr size_t kSlots = 1024;
    static constexpr DWORD kStealAfterMs = 2000;

    // Opens the session's table (creating it if no process has yet); without
    // it (no memory) `available` is false and callers guard otherwise.
    AppendGuards();
    ~AppendGuards();
    AppendGuards(const AppendGuards &) = delete;
    AppendGuards &operator=(const AppendGuards &) = delete;

    bool available() const { return slots_ != nullptr; }
    // The word of the file at `path`.
    size_t slotOf(const std::string &path) const;
    // The id of the thread that holds the word `slot`, 0 while it is free;
    // for tests.
    DWORD holderOf(size_t slot) const;

    // Holds a word from construction to destruction.
    class Held {
    public:
        Held(AppendGuards &guards, size_t slot);
        ~Held();
        Held(const Held &) = delete;
        Held &operator=(const Held &) = delete;

    private:
        volatile LONG *word_;
        LONG self_;
    };

private:
    volatile LONG *wordOf(size_t slot) const;

    UniqueHandle mapping_;
    volatile LONG *slots_ = nullptr;
};

}  // namespace varnex

#endif
