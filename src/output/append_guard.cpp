#include "output/append_guard.h"

#include "text/fnv1a.h"

namespace varnex {

namespace {

// One word per 64-byte line, so that waiting on one file does not slow the
// holder of another down.
constexpr size_t kSlotBytes = 64;
constexpr const char *kTableName = "Local\\Varnex.AppendGuards.1";

// Busy waiting only as long as a holder takes for one WriteFile; then the
// processor goes to other threads (the holder among them, on one core).
constexpr int kSpins = 200;
constexpr int kYields = 2000;
// How often a waiter that sleeps looks whether the holder still lives.
constexpr ULONGLONG kLookEveryMs = 50;

bool threadGone(DWORD id) {
    UniqueHandle thread(OpenThread(SYNCHRONIZE, FALSE, id));
    if (!thread) return GetLastError() == ERROR_INVALID_PARAMETER;  // no thread with that id
    return WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0;
}

}  // namespace

AppendGuards::AppendGuards()
    : mapping_(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                  static_cast<DWORD>(kSlots * kSlotBytes), kTableName)) {
    // A table created by another process is zero-filled by the system, as
    // is a new one: every word starts free.
    if (mapping_)
        slots_ = static_cast<volatile LONG *>(MapViewOfFile(mapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
}

AppendGuards::~AppendGuards() {
    if (slots_) UnmapViewOfFile(const_cast<LONG *>(slots_));
}

size_t AppendGuards::slotOf(const std::string &path) const {
    // The full path, so that a relative driverName and the current folder
    // agree with an absolute one; too long a path is taken as it is.
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    const std::string name = length > 0 && length < MAX_PATH ? std::string(full, length) : path;
    return fnv1a32IgnoringCase(name) % kSlots;
}

volatile LONG *AppendGuards::wordOf(size_t slot) const { return slots_ + slot * (kSlotBytes / sizeof(LONG)); }

DWORD AppendGuards::holderOf(size_t slot) const { return static_cast<DWORD>(*wordOf(slot)); }

AppendGuards::Held::Held(AppendGuards &guards, size_t slot)
    : word_(guards.wordOf(slot)), self_(static_cast<LONG>(GetCurrentThreadId())) {
    LONG holder = InterlockedCompareExchange(word_, self_, 0);
    // This thread holds no word while it asks for one: its own id there was
    // left by an ended thread whose id it got.
    if (holder == 0 || (holder == self_ && InterlockedCompareExchange(word_, self_, self_) == self_)) return;
    const ULONGLONG start = GetTickCount64();
    ULONGLONG heldSince = start, lastLook = start;
    for (int round = 1;; ++round) {
        if (round < kSpins)
            YieldProcessor();
        else if (round < kSpins + kYields)
            SwitchToThread();
        else
            Sleep(1);
        const LONG now = InterlockedCompareExchange(word_, self_, 0);
        if (now == 0) return;
        const ULONGLONG tick = GetTickCount64();
        if (now != holder) {
            // Another holder since: its time starts now.
            holder = now;
            heldSince = tick;
            continue;
        }
        if (round < kSpins + kYields && tick - heldSince < kStealAfterMs) continue;
        bool takeOver = tick - heldSince >= kStealAfterMs;
        if (!takeOver && tick - lastLook >= kLookEveryMs) {
            lastLook = tick;
            takeOver = threadGone(static_cast<DWORD>(holder));
        }
        if (takeOver && InterlockedCompareExchange(word_, self_, holder) == holder) return;
    }
}

AppendGuards::Held::~Held() { InterlockedCompareExchange(word_, 0, self_); }

}  // namespace varnex
