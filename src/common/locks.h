// Scoped owners for the Win32 slim reader/writer lock, and a lock that
// serves its waiters in the order they came. SRWLOCK_INIT and
// CONDITION_VARIABLE_INIT are constants, so these can be static objects
// without a static constructor, and they hold no kernel object.
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

// First come, first served, whatever the platform's lock does: an SRWLOCK
// wakes any waiter, and a thread that releases and asks again often gets it
// back before the one that has waited longest. Each caller takes a ticket
// under a short lock and waits until its number is called; the short lock
// is never held while the holder works.
class TicketLock {
public:
    void lock() noexcept {
        AcquireSRWLockExclusive(&guard_);
        const unsigned long ticket = next_++;
        while (serving_ != ticket) SleepConditionVariableSRW(&called_, &guard_, INFINITE, 0);
        ReleaseSRWLockExclusive(&guard_);
    }
    // Takes the lock only when nobody holds it or waits for it.
    bool tryLock() noexcept {
        AcquireSRWLockExclusive(&guard_);
        const bool free = serving_ == next_;
        if (free) ++next_;
        ReleaseSRWLockExclusive(&guard_);
        return free;
    }
    void unlock() noexcept {
        AcquireSRWLockExclusive(&guard_);
        const bool waiting = ++serving_ != next_;
        ReleaseSRWLockExclusive(&guard_);
        // Every waiter wakes and looks at the number; only the next one goes
        // on. Few threads ever wait for one symbol, so this is cheap.
        if (waiting) WakeAllConditionVariable(&called_);
    }

private:
    SRWLOCK guard_ = SRWLOCK_INIT;  // guards the two numbers
    CONDITION_VARIABLE called_ = CONDITION_VARIABLE_INIT;
    unsigned long next_ = 0;     // the number the next caller takes
    unsigned long serving_ = 0;  // the number whose turn it is
};

// A lock whose waiters give up at a deadline (a GetTickCount64 time):
// for a caller that has promised to return within a bound whatever the
// number of threads ahead of it. Waiters are not served in order.
class DeadlineLock {
public:
    // False when the deadline came first; the lock is then not held.
    bool lockBy(ULONGLONG deadline) noexcept {
        AcquireSRWLockExclusive(&guard_);
        while (held_) {
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline) break;
            const ULONGLONG left = deadline - now;
            SleepConditionVariableSRW(&freed_, &guard_,
                                      left < INFINITE ? static_cast<DWORD>(left) : INFINITE - 1, 0);
        }
        const bool got = !held_;
        if (got) held_ = true;
        ReleaseSRWLockExclusive(&guard_);
        return got;
    }
    void unlock() noexcept {
        AcquireSRWLockExclusive(&guard_);
        held_ = false;
        ReleaseSRWLockExclusive(&guard_);
        WakeConditionVariable(&freed_);
    }

private:
    SRWLOCK guard_ = SRWLOCK_INIT;  // guards held_
    CONDITION_VARIABLE freed_ = CONDITION_VARIABLE_INIT;
    bool held_ = false;
};

// For a wait as long as the holder takes.
constexpr ULONGLONG kNoDeadline = ~ULONGLONG(0);

class DeadlineGuard {
public:
    DeadlineGuard(DeadlineLock &lock, ULONGLONG deadline) noexcept
        : lock_(lock), held_(lock.lockBy(deadline)) {}
    ~DeadlineGuard() {
        if (held_) lock_.unlock();
    }
    DeadlineGuard(const DeadlineGuard &) = delete;
    DeadlineGuard &operator=(const DeadlineGuard &) = delete;
    explicit operator bool() const { return held_; }

private:
    DeadlineLock &lock_;
    const bool held_;
};

class TicketGuard {
public:
    explicit TicketGuard(TicketLock &lock) noexcept : lock_(lock) { lock_.lock(); }
    ~TicketGuard() { lock_.unlock(); }
    TicketGuard(const TicketGuard &) = delete;
    TicketGuard &operator=(const TicketGuard &) = delete;

private:
    TicketLock &lock_;
};

// Releases a turn that tryLock took.
class TakenTicket {
public:
    explicit TakenTicket(TicketLock &lock) noexcept : lock_(lock) {}
    ~TakenTicket() { lock_.unlock(); }
    TakenTicket(const TakenTicket &) = delete;
    TakenTicket &operator=(const TakenTicket &) = delete;

private:
    TicketLock &lock_;
};

}  // namespace varnex

#endif
