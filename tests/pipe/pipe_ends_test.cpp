// A receiving and a sending end against each other in one process, each
// test on its own pipe names.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "pipe/pipe_receiver.h"
#include "pipe/pipe_relay.h"
#include "pipe/pipe_sender.h"

using namespace varnex;

// Allocations above this size (0: none) fail on every thread but the one
// named, so a test can make the reader run out of memory while it frames.
std::atomic<size_t> failAllocationsAbove{0};
std::atomic<DWORD> allocatingThread{0};

void *operator new(size_t size) {
    const size_t limit = failAllocationsAbove;
    if (limit != 0 && size > limit && GetCurrentThreadId() != allocatingThread) throw std::bad_alloc();
    if (void *memory = HeapAlloc(GetProcessHeap(), 0, size ? size : 1)) return memory;
    throw std::bad_alloc();
}
void operator delete(void *memory) noexcept {
    if (memory) HeapFree(GetProcessHeap(), 0, memory);
}
void operator delete(void *memory, size_t) noexcept { operator delete(memory); }

namespace {

std::mutex receivedMutex;
std::vector<std::string> received;
std::atomic<int> blockCallback{0};

void __stdcall collect(const char *text) {
    while (blockCallback) Sleep(5);
    std::lock_guard<std::mutex> lock(receivedMutex);
    received.emplace_back(text);
}

std::vector<std::string> waitFor(size_t count, DWORD limitMs = 5000) {
    const ULONGLONG deadline = GetTickCount64() + limitMs;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(receivedMutex);
            if (received.size() >= count || GetTickCount64() > deadline) return received;
        }
        Sleep(2);
    }
}

class PipeEndsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::lock_guard<std::mutex> lock(receivedMutex);
        received.clear();
        static int counter = 0;
        name = "varnex.test." + std::to_string(GetCurrentProcessId()) + "." + std::to_string(++counter);
    }
    void configure(PipeEnd &end) { end.configure(name, "."); }
    // A receiver and a sender connected to it, on this test's names.
    void connect(PipeReceiver &receiver, PipeSender &sender) {
        configure(receiver);
        configure(sender);
        ASSERT_TRUE(receiver.open("QUIT", collect));
        ASSERT_TRUE(sender.open());
    }
    std::string name;
};

TEST_F(PipeEndsTest, PathsAreBuiltFromHostAndName) {
    PipeSender end;
    EXPECT_EQ(end.pipePath(true), "\\\\.\\pipe\\_IN");
    end.configure("kelvor.ts.guicl", ".");
    EXPECT_EQ(end.pipePath(true), "\\\\.\\pipe\\kelvor.ts.guicl_IN");
    EXPECT_EQ(end.pipePath(false), "\\\\.\\pipe\\kelvor.ts.guicl_OUT");
}

TEST_F(PipeEndsTest, SenderMessagesReachTheReceiverCallbackInOrder) {
    PipeReceiver receiver;
    PipeSender sender;
    ASSERT_NO_FATAL_FAILURE(connect(receiver, sender));
    EXPECT_TRUE(sender.send("ABC,1,12.5"));
    EXPECT_TRUE(sender.send(""));
    EXPECT_TRUE(sender.send("quit"));
    // A second open fails while our connection holds the pipes, and the old connection still sends.
    EXPECT_FALSE(sender.open());
    EXPECT_TRUE(sender.send("XYZ,-2,3"));
    EXPECT_EQ(waitFor(4), (std::vector<std::string>{"ABC,1,12.5", "", "quit", "XYZ,-2,3"}));
}

TEST_F(PipeEndsTest, AMessageThatCannotBeFramedIsDroppedWholeAndTheReaderKeepsServing) {
    PipeReceiver receiver;
    PipeSender sender;
    ASSERT_NO_FATAL_FAILURE(connect(receiver, sender));
    ASSERT_TRUE(sender.send("before"));
    waitFor(1);
    const std::string tooLong(20000, 'L');
    allocatingThread = GetCurrentThreadId();
    failAllocationsAbove = 4096;
    EXPECT_TRUE(sender.send(tooLong));
    EXPECT_TRUE(sender.send("after"));
    const std::vector<std::string> got = waitFor(2);
    failAllocationsAbove = 0;
    EXPECT_EQ(got, (std::vector<std::string>{"before", "after"}));
    EXPECT_EQ(receiver.readerResult(), ReaderExit::Serving);
}

// The order pipe keeps nothing in a buffer of its own: a send completes only
// once the reader took it, so one the reader never takes is reported failed,
// and one reported sent cannot be lost with the pipe.
TEST_F(PipeEndsTest, ASendCompletesOnlyOnceTheReaderTookIt) {
    PipeReceiver receiver;
    PipeSender sender;
    ASSERT_NO_FATAL_FAILURE(connect(receiver, sender));
    blockCallback = 1;
    EXPECT_TRUE(sender.send("first"));  // taken, then held in the callback
    EXPECT_FALSE(sender.send("second"));
    EXPECT_TRUE(sender.sendTimedOut());
    blockCallback = 0;
    EXPECT_EQ(waitFor(1), std::vector<std::string>{"first"});
}

TEST_F(PipeEndsTest, StopWordIsDeliveredAndEndsTheReader) {
    PipeReceiver receiver;
    PipeSender sender;
    ASSERT_NO_FATAL_FAILURE(connect(receiver, sender));
    EXPECT_TRUE(sender.send("QUIT"));
    EXPECT_EQ(waitFor(1), std::vector<std::string>{"QUIT"});
    for (int i = 0; i < 200 && receiver.readerResult() == ReaderExit::Serving; ++i) Sleep(5);
    EXPECT_EQ(receiver.readerResult(), ReaderExit::StopWord);
}

TEST_F(PipeEndsTest, AReceiverServesOnceEvenAfterTheStopWord) {
    PipeReceiver receiver;
    PipeSender sender;
    ASSERT_NO_FATAL_FAILURE(connect(receiver, sender));
    ASSERT_TRUE(sender.send("QUIT"));
    waitFor(1);
    EXPECT_FALSE(receiver.open("QUIT", collect));
    receiver.close();
    PipeReceiver next;  // closing freed the names
    configure(next);
    EXPECT_TRUE(next.open("QUIT", collect));
}

TEST_F(PipeEndsTest, ReceiverOpenNeedsACallbackAndASingleInstance) {
    PipeReceiver first, second;
    PipeSender third;
    configure(first);
    configure(second);
    configure(third);
    EXPECT_FALSE(first.open("QUIT", nullptr));
    ASSERT_TRUE(first.open("QUIT", collect));
    EXPECT_FALSE(second.open("QUIT", collect));
    ASSERT_TRUE(third.open());
    EXPECT_TRUE(third.send("still first"));
    EXPECT_EQ(waitFor(1), std::vector<std::string>{"still first"});
}

TEST_F(PipeEndsTest, SendWithoutReceiverFailsAtOnce) {
    PipeSender sender;
    configure(sender);
    EXPECT_FALSE(sender.open());
    EXPECT_FALSE(sender.send("lost"));
    // Refused without a pipe to write to: no write was begun that could
    // have waited for a reader.
    EXPECT_FALSE(sender.isConnected());
    EXPECT_EQ(sender.lastWrite(), WriteResult::Failed);
}

TEST_F(PipeEndsTest, ANewSenderIsServedAfterTheFirstWentAway) {
    PipeReceiver receiver;
    configure(receiver);
    ASSERT_TRUE(receiver.open("QUIT", collect));
    {
        PipeSender first;
        configure(first);
        ASSERT_TRUE(first.open());
        EXPECT_TRUE(first.send("from first"));
        waitFor(1);
    }
    PipeSender second;
    configure(second);
    bool opened = false;
    for (int i = 0; i < 200 && !(opened = second.open()); ++i) Sleep(10);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(second.send("from second"));
    EXPECT_EQ(waitFor(2), (std::vector<std::string>{"from first", "from second"}));
}

TEST_F(PipeEndsTest, SendToAReceiverThatStoppedReadingIsBounded) {
    PipeReceiver receiver;
    PipeSender sender;
    ASSERT_NO_FATAL_FAILURE(connect(receiver, sender));
    ASSERT_TRUE(sender.send("QUIT"));
    waitFor(1);
    const std::string order(100, 'o');
    bool ok = true;
    ULONGLONG lastSendMs = 0;
    for (int i = 0; i < 1000 && ok; ++i) {
        const ULONGLONG start = GetTickCount64();
        ok = sender.send(order);
        lastSendMs = GetTickCount64() - start;
    }
    // Whether the pipe still takes bytes into its buffer or is gone with
    // the reader, a send that cannot be delivered ends within its limit.
    EXPECT_FALSE(ok);
    EXPECT_LT(lastSendMs, PipeSender::kSendLimitMs + 1000);
}

TEST_F(PipeEndsTest, DestroyingTheReceiverEndsAWaitingReader) {
    PipeReceiver unopened;  // closes nothing, ends nothing
    auto receiver = std::make_unique<PipeReceiver>();
    configure(*receiver);
    ASSERT_TRUE(receiver->open("QUIT", collect));
    const ULONGLONG start = GetTickCount64();
    receiver.reset();
    // Woken by the stop, not found at the end of the stop's limit.
    EXPECT_LT(GetTickCount64() - start, PipeReader::kStopLimitMs);
    PipeReceiver again;  // the names are free again
    configure(again);
    EXPECT_TRUE(again.open("QUIT", collect));
}

}  // namespace

TEST_F(PipeEndsTest, ARetiredRelayLetsTheReceiverGoAndSendsNoMore) {
    PipeReceiver receiver;
    configure(receiver);
    ASSERT_TRUE(receiver.open("QUIT", collect));
    PipeRelay relay(name);
    ASSERT_TRUE(relay.relay("kept connected").reached);
    relay.retire();
    EXPECT_FALSE(relay.relay("after retiring").reached);
    // The receiver serves one sender at a time: another gets it only once
    // the retired relay's connection is gone.
    PipeSender next;
    configure(next);
    bool opened = false;
    for (const ULONGLONG until = GetTickCount64() + 2000;
         !(opened = next.open()) && GetTickCount64() < until;)
        Sleep(10);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(next.send("next sender"));
    EXPECT_EQ(waitFor(2), (std::vector<std::string>{"kept connected", "next sender"}));
}
