// toText against a model of the Windows C runtime's "%d" and "%g", built
// from glibc's printf: glibc prints a double's exact decimal expansion when
// asked for enough digits, and the model rounds that digit string itself,
// because msvcrt sends an exact half away from zero where glibc rounds it to
// even.
//
// Input: the first 8 bytes as a double; the first 4 as an int32, rendered
// as it stands and, scaled by 2^-(byte 5 % 32), as a double, which reaches
// the exact halves (123456.5, 1234565) that random bit patterns almost
// never hit.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "text/number_text.h"

namespace {

constexpr int kPrecision = 6;
// A double's exact expansion has at most 767 significant digits.
constexpr int kExactDigits = 1100;

struct Decimal {
    std::string digits;  // significant digits, the first one non-zero
    int exponent;        // power of ten of the first digit
};

Decimal exactDecimal(double magnitude) {
    static char text[kExactDigits + 16];
    std::snprintf(text, sizeof text, "%.*e", kExactDigits, magnitude);
    const char *e = std::strchr(text, 'e');
    Decimal out;
    out.digits.assign(text, 1);
    out.digits.append(text + 2, static_cast<size_t>(e - (text + 2)));
    out.exponent = std::atoi(e + 1);
    FUZZ_CHECK(out.digits.find_first_not_of('0', 800) == std::string::npos,
               std::string("glibc's expansion is not exact: ") + text);
    return out;
}

// Where the digits after the sixth stand against an exact half: <0, 0, >0.
int tailAgainstHalf(const std::string &digits) {
    if (digits[kPrecision] != '5') return digits[kPrecision] < '5' ? -1 : 1;
    return digits.find_first_not_of('0', kPrecision + 1) == std::string::npos ? 0 : 1;
}

std::string withoutTrailingZeros(std::string text) {
    if (text.find('.') == std::string::npos) return text;
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
    return text;
}

// The C standard's %g layout of a six-digit integer `rounded` times
// 10^(exponent - 5), with the runtime's three-digit exponent.
std::string layout(long rounded, int exponent) {
    char text[64];
    if (exponent < -4 || exponent >= kPrecision) {
        std::snprintf(text, sizeof text, "%ld.%05ld", rounded / 100000, rounded % 100000);
        char tail[16];
        std::snprintf(tail, sizeof tail, "e%c%03d", exponent < 0 ? '-' : '+', std::abs(exponent));
        return withoutTrailingZeros(text) + tail;
    }
    // Fixed notation with 5 - exponent decimals (0 to 9).
    const int decimals = kPrecision - 1 - exponent;
    std::snprintf(text, sizeof text, "%0*ld", decimals + 1, rounded);
    std::string fixed = text;
    if (decimals > 0) fixed.insert(fixed.size() - decimals, ".");
    return withoutTrailingZeros(fixed);
}

struct Model {
    std::string text;
    bool exactHalf;
};

Model runtimeG(double value) {
    if (std::isnan(value)) return {std::signbit(value) ? "-1.#IND" : "1.#QNAN", false};
    if (std::isinf(value)) return {value < 0 ? "-1.#INF" : "1.#INF", false};
    const std::string sign = std::signbit(value) ? "-" : "";
    if (value == 0) return {sign + "0", false};
    const Decimal exact = exactDecimal(std::fabs(value));
    long rounded = std::stol(exact.digits.substr(0, kPrecision));
    int exponent = exact.exponent;
    const int against = tailAgainstHalf(exact.digits);
    if (against >= 0) ++rounded;  // away from zero, exact halves included
    if (rounded == 1000000) {
        rounded = 100000;
        ++exponent;
    }
    return {sign + layout(rounded, exponent), against == 0};
}

// glibc's own %g with the exponent widened to three digits; it rounds
// correctly too, so it must agree wherever the value is no exact half.
std::string glibcG(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    std::string out = text;
    const size_t e = out.find('e');
    if (e != std::string::npos && out.size() - e == 4) out.insert(e + 2, "0");
    return out;
}

std::string bitsOf(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    char text[64];
    std::snprintf(text, sizeof text, "bits 0x%016llX (%.17g)", static_cast<unsigned long long>(bits), value);
    return text;
}

void checkDouble(double value) {
    const Model model = runtimeG(value);
    const std::string actual = varnex::toText(value);
    FUZZ_CHECK(actual == model.text, bitsOf(value) + ": toText " + actual + ", model " + model.text);
    if (std::isfinite(value) && !model.exactHalf)
        FUZZ_CHECK(model.text == glibcG(value),
                   bitsOf(value) + ": model " + model.text + ", glibc %g " + glibcG(value));
}

void checkInt(int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    const std::string actual = varnex::toText(value);
    FUZZ_CHECK(actual == text, std::string("int ") + text + ": toText " + actual);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size >= sizeof(double)) {
        double value;
        std::memcpy(&value, data, sizeof value);
        checkDouble(value);
    }
    if (size >= sizeof(int32_t)) {
        int32_t value;
        std::memcpy(&value, data, sizeof value);
        checkInt(value);
        const int shift = size > sizeof value ? data[sizeof value] % 32 : 0;
        checkDouble(std::ldexp(static_cast<double>(value), -shift));
    }
    return 0;
}
