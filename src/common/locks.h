// Scoped owners for the Win32 slim reader/writer lock. SRWLOCK_INIT is a
// constant, so a lock can be a static object without a static constructor.
#ifndef VARNEX_COMMON_LOCKS_H
#define VARNEX_COMMON_LOCKS_H

#include <windows.h>

namespace varnex {

class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK &lock) noexcept : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock &) = delete;
    ExclusiveLock &operator=(const ExclusiveLock &) = delete;

private:
    SRWLOCK &lock_;
};

class SharedLock {
public:
    explicit SharedLock(SRWLOCK &lock) noexcept : lock_(lock) { AcquireSRWLockShared(&lock_); }
    ~SharedLock() { ReleaseSRWLockShared(&lock_); }
    SharedLock(const SharedLock &) = delete;
    SharedLock &operator=(const SharedLock &) = delete;

private:
    SRWLOCK &lock_;
};

}  // namespace varnex

#endif
