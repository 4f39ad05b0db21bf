#include "lifetime/library_thread.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>

#include "common/handles.h"

using varnex::DetachableCall;
using varnex::LibraryThread;
using varnex::UniqueHandle;

namespace {

struct Work {
    enum Kind { Return, HoldInCall, HoldInOwnCode } kind = Return;
    UniqueHandle release{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle self;  // the thread, seen from the test once the work runs
    std::atomic<bool> running{false};
    std::atomic<bool> backFromCall{false};
    DetachableCall call;
};

HANDLE released = nullptr;
void WINAPI waitForRelease(const char *) { WaitForSingleObject(released, 10000); }

void work(void *parameter) {
    auto *w = static_cast<Work *>(parameter);
    HANDLE self = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, SYNCHRONIZE, FALSE,
                    0);
    w->self.reset(self);
    w->running = true;
    if (w->kind == Work::HoldInCall) w->call.callOrderFunction(waitForRelease, "");
    if (w->kind == Work::HoldInOwnCode) WaitForSingleObject(w->release.get(), 10000);
    w->backFromCall = true;
}

// Each way a thread can be found at its stop, and what becomes of it.
TEST(LibraryThread, EndsAParkedThreadDetachesAHeldCallAndPinsTheRest) {
    const struct {
        Work::Kind kind;
        LibraryThread::Ending ending;
        bool endsBeforeRelease;
    } cases[] = {
        {Work::Return, LibraryThread::Ending::Ended, true},
        {Work::HoldInCall, LibraryThread::Ending::Detached, false},
        {Work::HoldInOwnCode, LibraryThread::Ending::Pinned, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        auto *w = new Work;
        w->kind = c.kind;
        released = w->release.get();
        LibraryThread thread;
        ASSERT_TRUE(thread.start(work, w));
        EXPECT_TRUE(thread.confirmStarted(5000));
        while (!w->running) Sleep(1);
        EXPECT_EQ(thread.waitParked(c.kind == Work::Return ? 5000 : 50), c.kind == Work::Return);
        EXPECT_EQ(thread.stop(50, &w->call), c.ending);
        EXPECT_FALSE(thread.started());
        // An ended thread exits before the test lets go; a held one only after its call.
        EXPECT_EQ(WaitForSingleObject(w->self.get(), c.endsBeforeRelease ? 5000 : 200),
                  c.endsBeforeRelease ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
        SetEvent(w->release.get());
        if (c.ending == LibraryThread::Ending::Pinned) continue;  // its work still owns `w`
        EXPECT_EQ(WaitForSingleObject(w->self.get(), 5000), WAIT_OBJECT_0);
        // A detached thread ends where its call returns, never back in its work.
        EXPECT_EQ(w->backFromCall.load(), c.kind == Work::Return);
        delete w;
    }
}

}  // namespace
