#include "common/detached_call.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "common/handles.h"

using varnex::DetachableCall;
using varnex::UniqueHandle;

namespace {

std::string received;
UniqueHandle release;
std::atomic<bool> returnedToCaller{false};

void WINAPI remember(const char *text) { received = text; }

void WINAPI waitForRelease(const char *text) {
    received = text;
    WaitForSingleObject(release.get(), 10000);
}

struct Caller {
    DetachableCall call;
    const char *text;
};

DWORD WINAPI callThenReturn(LPVOID parameter) {
    auto *caller = static_cast<Caller *>(parameter);
    caller->call.callOrderFunction(waitForRelease, caller->text);
    returnedToCaller = true;
    return 7;
}

TEST(DetachableCall, PassesTheCallThroughAndComesBack) {
    DetachableCall call;
    ASSERT_TRUE(call.ready());
    call.callOrderFunction(remember, "ABC,1,2");
    EXPECT_EQ(received, "ABC,1,2");
    // Five arguments, a result, and the stack as it was.
    char path[MAX_PATH];
    GetTempPathA(MAX_PATH, path);
    const std::string file = std::string(path) + "varnex_detached_call.txt";
    UniqueHandle handle(CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE,
                                    nullptr));
    ASSERT_TRUE(handle);
    DWORD written = 0;
    EXPECT_TRUE(call.writeFile(handle.get(), "12345", 5, &written, nullptr));
    EXPECT_EQ(written, 5u);
    EXPECT_FALSE(call.detach());  // no call under way
    call.callOrderFunction(remember, "again");
    EXPECT_EQ(received, "again");
}

// Detached during the call: when the function returns, the thread ends in
// the stub and never runs its caller's code again.
TEST(DetachableCall, ADetachedCallEndsItsThreadWhenItReturns) {
    release.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    auto *caller = new Caller{{}, "held"};
    returnedToCaller = false;
    UniqueHandle thread(CreateThread(nullptr, 0, callThenReturn, caller, 0, nullptr));
    ASSERT_TRUE(thread);
    for (int i = 0; i < 500 && received != "held"; ++i) Sleep(10);
    ASSERT_EQ(received, "held");
    EXPECT_TRUE(caller->call.detach());
    SetEvent(release.get());
    ASSERT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0);
    DWORD exitCode = 99;
    GetExitCodeThread(thread.get(), &exitCode);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(returnedToCaller);
    // The stub's pages stay with the detached call; the object forgets them.
    delete caller;
}

#if defined(__x86_64__)
void WINAPI throwing(const char *) { throw std::string("from the host"); }

TEST(DetachableCall, AnExceptionOfTheCalledFunctionPassesTheStub) {
    DetachableCall call;
    std::string caught;
    try {
        call.callOrderFunction(throwing, "x");
    } catch (const std::string &text) {
        caught = text;
    }
    EXPECT_EQ(caught, "from the host");
    // The stub is ready for the next call, which comes back as any other.
    call.callOrderFunction(remember, "after the throw");
    EXPECT_EQ(received, "after the throw");
}
#endif

}  // namespace
