// MessageFramer: what goes in comes out, whatever the read boundaries. The
// same bytes are fed once whole and once in fuzzer-chosen pieces (empty ones
// included); both framers must give the messages that a direct reading of
// the stream gives: split at each NUL, and a run without NUL cut into pieces
// of kMaxPending + 1 bytes, the size at which the framer hands it on.
//
// Input, read by FuzzedDataProvider: a flag and a position and length for a
// long run of 'x' spliced into the stream (so the length limit is reached
// without 64 KiB inputs), then the piece sizes from the end of the input, and
// the rest as the stream.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "pipe/message_framing.h"

using varnex::MessageFramer;
using varnex_fuzz::shown;

namespace {

constexpr size_t kCut = MessageFramer::kMaxPending + 1;

struct Framed {
    std::vector<std::string> messages;
    size_t pending = 0;
};

Framed expectedFraming(const std::string &stream) {
    Framed out;
    std::string run;
    for (char c : stream) {
        if (c == '\0') {
            out.messages.push_back(run);
            run.clear();
            continue;
        }
        run += c;
        if (run.size() == kCut) {
            out.messages.push_back(run);
            run.clear();
        }
    }
    out.pending = run.size();
    return out;
}

void expectSame(const Framed &expected, const std::vector<std::string> &messages, size_t pending,
                const char *how) {
    FUZZ_CHECK(messages.size() == expected.messages.size(),
               std::string(how) + ": " + std::to_string(messages.size()) + " messages, expected " +
                   std::to_string(expected.messages.size()));
    for (size_t i = 0; i < messages.size(); ++i)
        FUZZ_CHECK(messages[i] == expected.messages[i], std::string(how) + ": message " + std::to_string(i) +
                                                            " " + shown(messages[i]) + ", expected " +
                                                            shown(expected.messages[i]));
    FUZZ_CHECK(pending == expected.pending, std::string(how) + ": " + std::to_string(pending) +
                                                " bytes pending, expected " +
                                                std::to_string(expected.pending));
}

void append(std::vector<std::string> &to, std::vector<std::string> &&from) {
    for (std::string &message : from) to.push_back(std::move(message));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider input(data, size);
    const bool longRun = input.ConsumeBool();
    const uint16_t runAt = input.ConsumeIntegral<uint16_t>();
    const size_t runLength = input.ConsumeIntegralInRange<size_t>(0, 2 * kCut + 1);
    const size_t pieceCount = input.ConsumeIntegralInRange<size_t>(0, 32);
    std::vector<size_t> pieces;
    for (size_t i = 0; i < pieceCount; ++i)
        pieces.push_back(input.ConsumeIntegralInRange<size_t>(0, 2 * kCut));
    std::string stream = input.ConsumeRemainingBytesAsString();
    if (longRun) stream.insert(runAt % (stream.size() + 1), runLength, 'x');

    const Framed expected = expectedFraming(stream);

    MessageFramer whole;
    const std::vector<std::string> wholeMessages = whole.feed(stream.data(), stream.size());
    expectSame(expected, wholeMessages, whole.pendingSize(), "whole");

    // The pieces as chosen, then what is left as one last read.
    MessageFramer cut;
    std::vector<std::string> cutMessages;
    size_t at = 0;
    for (size_t piece : pieces) {
        const size_t length = std::min(piece, stream.size() - at);
        append(cutMessages, cut.feed(stream.data() + at, length));
        at += length;
    }
    append(cutMessages, cut.feed(stream.data() + at, stream.size() - at));
    expectSame(expected, cutMessages, cut.pendingSize(), "in pieces");

    bool anyCut = false;
    for (const std::string &message : wholeMessages) {
        FUZZ_CHECK(message.find('\0') == std::string::npos, "message with a NUL: " + shown(message));
        FUZZ_CHECK(message.size() <= kCut, "message of " + std::to_string(message.size()) + " bytes");
        anyCut = anyCut || message.size() == kCut;
    }
    if (!anyCut) {
        std::string rebuilt;
        for (const std::string &message : wholeMessages) rebuilt += message + '\0';
        const size_t lastNul = stream.rfind('\0');
        const std::string upToLastNul = lastNul == std::string::npos ? "" : stream.substr(0, lastNul + 1);
        FUZZ_CHECK(rebuilt == upToLastNul, "rebuilt " + shown(rebuilt) + ", stream " + shown(upToLastNul));
    }
    return 0;
}
