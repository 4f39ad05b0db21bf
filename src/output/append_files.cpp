#include "output/append_files.h"

#include <optional>

#include "common/handles.h"
#include "common/locks.h"
#include "output/path_access.h"
#include "text/ascii_case.h"

namespace varnex {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The most room a file's line buffer keeps between appends.
constexpr size_t kKeptBytes = 4096;

// The guard when the session's table of guards cannot be had: one byte far
// beyond any data, whose lock shuts out other writers that take the same
// lock, while readers and writers that do not are never blocked (Windows
// byte-range locks are mandatory for the bytes they cover).
class FarRegionLock {
public:
    explicit FarRegionLock(HANDLE file) : file_(file) {
        region_.OffsetHigh = 0x40000000;
        locked_ = LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &region_) != FALSE;
    }
    ~FarRegionLock() {
        // Closing would release it too, but Windows may do that late.
        if (locked_) UnlockFileEx(file_, 0, 1, 0, &region_);
    }
    FarRegionLock(const FarRegionLock &) = delete;
    FarRegionLock &operator=(const FarRegionLock &) = delete;

private:
    HANDLE file_;
    OVERLAPPED region_ = {};
    bool locked_;
};

LONGLONG asNumber(const FILETIME &time) {
    return static_cast<LONGLONG>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

// Whether the file at `path` is still the one `file` holds. Windows gives no
// identity of a path's file without opening it, which costs what keeping the
// file open saves; one query of the path (about 4 us under Wine, where it is
// a stat) and two of the handle (an fstat each there) compare its size and
// creation time. Not its write time: Windows promises that only once the
// writing handles are closed, and a query through another handle may see an
// older one. A different file passes only with the same size and creation
// time: a copy that kept them, or on Windows, whose file name tunnelling
// gives a file made under a name within 15 s of the name's old file going
// that file's creation time, such a file of the very same size. A delete
// lets the name go at once on Windows 10 since 1903; on older Windows the
// handle reports the pending delete; Wine 8 keeps the name of a file deleted
// while others hold it until the last of them closes it, and tells no one.
bool stillAtPath(HANDLE file, const std::string &path) {
    FILE_STANDARD_INFO standard;
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) ||
        !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        return false;
    if (standard.DeletePending || standard.NumberOfLinks == 0) return false;
    WIN32_FILE_ATTRIBUTE_DATA atPath;
    if (!attributesAt(path, &atPath)) return false;
    const ULONGLONG size = (static_cast<ULONGLONG>(atPath.nFileSizeHigh) << 32) | atPath.nFileSizeLow;
    return size == static_cast<ULONGLONG>(standard.EndOfFile.QuadPart) &&
           asNumber(atPath.ftCreationTime) == basic.CreationTime.QuadPart;
}

// Names differing only in letter case are one file.
std::string keyOf(const std::string &path) { return asciiUpper(path); }

}  // namespace

struct AppendFiles::Entry {
    Entry(const std::string &p, size_t s) : path(p), slot(s) {}
    const std::string path;
    const size_t slot;  // its cross-process guard
    // This process's writers of the file, one at a time: they queue here
    // rather than in the kernel's file lock. Held across the check, the open
    // and the write only: no console output, no callbacks.
    SRWLOCK lock = SRWLOCK_INIT;
    UniqueHandle file;  // guarded by lock
    // The bytes of the append under way, kept for their capacity: the
    // commonest call then allocates nothing here. Guarded by lock.
    std::string bytes;
};

AppendFiles::AppendFiles(size_t bound, LocalClock clock) : bound_(bound ? bound : 1), clock_(clock) {}

AppendFiles::~AppendFiles() = default;

std::shared_ptr<AppendFiles::Entry> AppendFiles::entryFor(const std::string &path) {
    {
        // The file used last, asked for again (the log, every call), is found
        // without a key or a look-up.
        SharedLock guard(tableLock_);
        if (!recent_.empty() && recent_.front()->path == path) return recent_.front();
    }
    const std::string key = keyOf(path);
    ExclusiveLock guard(tableLock_);
    const auto found = byPath_.find(key);
    if (found != byPath_.end()) {
        recent_.splice(recent_.begin(), recent_, found->second);
        return recent_.front();
    }
    recent_.push_front(std::make_shared<Entry>(path, guards_.slotOf(path)));
    byPath_.emplace(key, recent_.begin());
    if (recent_.size() > bound_) {
        // The least recently used file goes; a thread writing it meanwhile
        // holds it until its write is done, and its handle closes then.
        byPath_.erase(keyOf(recent_.back()->path));
        recent_.pop_back();
    }
    return recent_.front();
}

FileWrite AppendFiles::append(const std::string &path, char separator, const std::string *texts, size_t count,
                              const CalendarDate *onlyOn) {
    const std::shared_ptr<Entry> entry = entryFor(path);
    ExclusiveLock guard(entry->lock);
    if (entry->file && !stillAtPath(entry->file.get(), path)) entry->file.reset();
    if (!entry->file) {
        // Without FILE_WRITE_DATA every write goes to the end of the file;
        // read access is there because LockFileEx requires read or write access.
        entry->file.reset(createFileAt(path, FILE_READ_DATA | FILE_APPEND_DATA | SYNCHRONIZE, kShareAll,
                                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL));
        if (!entry->file) return FileWrite::systemError(lastErrorOr(ERROR_OPEN_FAILED));
    }
    DWORD error = ERROR_SUCCESS;
    {
        // Measured under Wine: appends through handles kept open by three
        // processes, unguarded, tore a quarter of their lines and lost some.
        std::optional<AppendGuards::Held> held;
        std::optional<FarRegionLock> lock;
        if (guards_.available())
            held.emplace(guards_, entry->slot);
        else
            lock.emplace(entry->file.get());
        const LocalTime now = clock_();
        if (onlyOn && *onlyOn != CalendarDate{now.year, now.month, now.day})
            return {FileWrite::Kind::OtherDay};
        std::string &bytes = entry->bytes;
        bytes.clear();
        // A line far longer than usual gives its room back.
        if (bytes.capacity() > kKeptBytes) bytes.shrink_to_fit();
        appendOutputLines(bytes, now, separator, texts, count);
        SetLastError(ERROR_SUCCESS);
        if (writeAll(entry->file.get(), bytes)) return {};
        error = lastErrorOr(ERROR_WRITE_FAULT);
    }
    // A file that failed a write (a full disk, a share gone) is opened afresh next time.
    entry->file.reset();
    return FileWrite::systemError(error);
}

}  // namespace varnex
