// TextSplitter: the tokens joined with the delimiter give the text back,
// there is one token more than non-overlapping occurrences of the delimiter
// (counted left to right here by hand), no token holds the delimiter, and
// the index past the last token raises out_of_range with the runtime's text.
//
// Input: byte 0 gives the delimiter's length (1 to 8), the delimiter follows,
// the rest is the text.
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "fuzz_check.h"
#include "text/text_splitter.h"

using varnex_fuzz::shown;

namespace {

size_t occurrences(const std::string &text, const std::string &delimiter) {
    size_t count = 0;
    size_t at = 0;
    while (at + delimiter.size() <= text.size()) {
        if (std::memcmp(text.data() + at, delimiter.data(), delimiter.size()) == 0) {
            ++count;
            at += delimiter.size();
        } else {
            ++at;
        }
    }
    return count;
}

void checkPastTheEnd(const varnex::TextSplitter &splitter, size_t index, const std::string &context) {
    try {
        splitter.token(index);
    } catch (const std::out_of_range &error) {
        FUZZ_CHECK(std::string(error.what()) == "invalid vector<T> subscript", context + ": " + error.what());
        return;
    }
    FUZZ_CHECK(false, context + ": token " + std::to_string(index) + " did not throw");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    const size_t delimiterSize = 1 + data[0] % 8;
    if (size < 1 + delimiterSize) return 0;
    const char *bytes = reinterpret_cast<const char *>(data);
    const std::string delimiter(bytes + 1, delimiterSize);
    const std::string text(bytes + 1 + delimiterSize, size - 1 - delimiterSize);
    const std::string context = "delimiter " + shown(delimiter) + ", text " + shown(text);

    const varnex::TextSplitter splitter(text, delimiter);
    const size_t count = splitter.count();
    FUZZ_CHECK(count == occurrences(text, delimiter) + 1, context + ": count " + std::to_string(count) +
                                                              ", occurrences " +
                                                              std::to_string(occurrences(text, delimiter)));

    std::string joined;
    for (size_t i = 0; i < count; ++i) {
        const std::string &token = splitter.token(i);
        FUZZ_CHECK(token.find(delimiter) == std::string::npos, context + ": token " + shown(token));
        if (i > 0) joined += delimiter;
        joined += token;
    }
    FUZZ_CHECK(joined == text, context + ": joined " + shown(joined));

    checkPastTheEnd(splitter, count, context);
    checkPastTheEnd(splitter, SIZE_MAX, context);
    return 0;
}
