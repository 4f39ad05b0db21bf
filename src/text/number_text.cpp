#include "text/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>

#include "text/digits.h"

namespace varnex {

namespace {

constexpr int kSignificant = 6;
// A probe correctly rounded at a place finer than the six-digit halves stands
// on the same side of each as the value, unless it reads as the half itself;
// at 17 digits, all a double needs to be told from its neighbours, that
// happens only to values that are a half or very nearly one.
constexpr int kProbeDigits = 17;
// A double's exact decimal expansion has at most 767 significant digits.
constexpr int kExactDigits = 767;

// Six significant digits of a finite, non-zero magnitude and the power of ten
// of the first.
struct Rounded {
    char digits[kSignificant];
    int exponent;
};

// In "d.dddddd...e+x" the n-th significant digit from the second on is
// text[n], so the seventh, the first one dropped, is text[7].
bool readsAsHalf(const char *text) {
    return text[kSignificant + 1] == '5' &&
           std::all_of(text + kSignificant + 2, text + kProbeDigits + 1, [](char c) { return c == '0'; });
}

// std::to_chars rounds a half to even where the runtime sends it away from
// zero, so it is asked for more digits than are kept and the seventh decides;
// only a probe that reads as a half needs the exact expansion to tell an exact
// half from a value just beside one.
Rounded roundedDigits(double magnitude) {
    char text[kExactDigits + 16];
    std::to_chars_result result =
        std::to_chars(text, std::end(text), magnitude, std::chars_format::scientific, kProbeDigits - 1);
    if (readsAsHalf(text))
        result =
            std::to_chars(text, std::end(text), magnitude, std::chars_format::scientific, kExactDigits - 1);

    const char *e = std::find(text, result.ptr, 'e');
    Rounded out;
    std::from_chars(e + 2, result.ptr, out.exponent);
    if (e[1] == '-') out.exponent = -out.exponent;
    out.digits[0] = text[0];
    std::copy(text + 2, text + kSignificant + 1, out.digits + 1);

    if (text[kSignificant + 1] >= '5') {
        int i = kSignificant - 1;
        while (i >= 0 && out.digits[i] == '9') out.digits[i--] = '0';
        if (i >= 0) {
            ++out.digits[i];
        } else {
            out.digits[0] = '1';
            ++out.exponent;
        }
    }
    return out;
}

void dropTrailingZeros(std::string &text) {
    if (text.find('.') == std::string::npos) return;
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
}

std::string exponentText(int exponent) {
    std::string out = exponent < 0 ? "e-" : "e+";
    appendDecimal(out, exponent < 0 ? -exponent : exponent, 3);
    return out;
}

std::string nonFiniteText(double value) {
    if (std::isinf(value)) return std::signbit(value) ? "-1.#INF" : "1.#INF";
    // The runtime names a NaN by its sign alone: the x87 default NaN has the
    // sign set and is its "indefinite" value.
    return std::signbit(value) ? "-1.#IND" : "1.#QNAN";
}

}  // namespace

std::string toText(int32_t value) {
    std::string out;
    appendDecimal(out, value);
    return out;
}

std::string toText(double value) {
    if (!std::isfinite(value)) return nonFiniteText(value);
    const std::string sign = std::signbit(value) ? "-" : "";
    if (value == 0) return sign + "0";

    const Rounded rounded = roundedDigits(std::fabs(value));
    const std::string digits(rounded.digits, kSignificant);
    const int exponent = rounded.exponent;
    std::string out;
    if (exponent < -4 || exponent >= kSignificant) {
        out = digits.substr(0, 1) + "." + digits.substr(1);
        dropTrailingZeros(out);
        out += exponentText(exponent);
    } else if (exponent < 0) {
        out = "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
        dropTrailingZeros(out);
    } else {
        out = digits.substr(0, static_cast<size_t>(exponent) + 1) + "." +
              digits.substr(static_cast<size_t>(exponent) + 1);
        dropTrailingZeros(out);
    }
    return sign + out;
}

}  // namespace varnex
