#include "lifetime/library_thread.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "common/handles.h"

using varnex::DetachableCall;
using varnex::LibraryThread;
using varnex::UniqueHandle;

namespace {

// What the test sees of a thread, kept apart from its task, which the stop
// may free.
struct Seen {
    UniqueHandle release{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle self;  // the thread, seen from the test once the work runs
    std::atomic<bool> running{false};
    std::atomic<bool> backFromCall{false};
    std::string fate;  // what the stop did with the task, in order
};

HANDLE released = nullptr;
void WINAPI waitForRelease(const char *) { WaitForSingleObject(released, 10000); }

struct Work final : LibraryThread::Task {
    enum Kind { Return, HoldInCall, HoldInOwnCode };
    Work(Kind k, Seen &s) : kind(k), seen(s) {}
    ~Work() override { seen.fate += "freed"; }

    void leaveToDetachedCall() noexcept override { seen.fate += "left,"; }

    void run() noexcept override {
        HANDLE self = nullptr;
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, SYNCHRONIZE,
                        FALSE, 0);
        seen.self.reset(self);
        seen.running = true;
        if (kind == HoldInCall) call.callOrderFunction(waitForRelease, "");
        if (kind == HoldInOwnCode) WaitForSingleObject(seen.release.get(), 10000);
        seen.backFromCall = true;
    }

    const Kind kind;
    Seen &seen;
    DetachableCall call;
};

// Each way a thread can be found at its stop, and what becomes of it and of
// its task.
TEST(LibraryThread, EndsAParkedThreadDetachesAHeldCallAndPinsTheRest) {
    const struct {
        Work::Kind kind;
        LibraryThread::Ending ending;
        bool endsBeforeRelease;
        const char *fate;
    } cases[] = {
        {Work::Return, LibraryThread::Ending::Ended, true, "freed"},
        // The callee may still read what it was handed: the task lets go of it first.
        {Work::HoldInCall, LibraryThread::Ending::Detached, false, "left,freed"},
        // Its work still reads the task.
        {Work::HoldInOwnCode, LibraryThread::Ending::Pinned, false, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        auto *seen = new Seen;
        released = seen->release.get();
        auto task = std::make_unique<Work>(c.kind, *seen);
        Work *const w = task.get();
        LibraryThread thread;
        ASSERT_TRUE(thread.start(std::move(task)));
        EXPECT_TRUE(thread.confirmStarted(5000));
        while (!seen->running) Sleep(1);
        EXPECT_EQ(thread.waitParked(c.kind == Work::Return ? 5000 : 50), c.kind == Work::Return);
        EXPECT_EQ(thread.stop(50, &w->call), c.ending);
        EXPECT_FALSE(thread.started());
        EXPECT_EQ(seen->fate, c.fate);
        // An ended thread exits before the test lets go; a held one only after its call.
        EXPECT_EQ(WaitForSingleObject(seen->self.get(), c.endsBeforeRelease ? 5000 : 200),
                  c.endsBeforeRelease ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
        SetEvent(seen->release.get());
        if (c.ending == LibraryThread::Ending::Pinned) continue;  // its work still reads `seen`
        EXPECT_EQ(WaitForSingleObject(seen->self.get(), 5000), WAIT_OBJECT_0);
        // A detached thread ends where its call returns, never back in its work.
        EXPECT_EQ(seen->backFromCall.load(), c.kind == Work::Return);
        delete seen;
    }
}

}  // namespace
