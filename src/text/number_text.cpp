#include "text/number_text.h"

#include <cstring>
#include <vector>

namespace varnex {

namespace {

constexpr int kSignificant = 6;

std::string decimalDigits(uint64_t value) {
    char buffer[20];
    size_t start = sizeof buffer;
    do {
        buffer[--start] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return std::string(buffer + start, sizeof buffer - start);
}

// Non-negative integer in base 1e9, least significant limb first; just enough
// arithmetic to write a double's exact decimal expansion.
class Decimal {
public:
    explicit Decimal(uint64_t value) {
        do {
            limbs_.push_back(static_cast<uint32_t>(value % kBase));
            value /= kBase;
        } while (value != 0);
    }

    void multiply(uint32_t factor) {
        uint64_t carry = 0;
        for (uint32_t &limb : limbs_) {
            const uint64_t product = static_cast<uint64_t>(limb) * factor + carry;
            limb = static_cast<uint32_t>(product % kBase);
            carry = product / kBase;
        }
        while (carry != 0) {
            limbs_.push_back(static_cast<uint32_t>(carry % kBase));
            carry /= kBase;
        }
    }

    void multiplyByPower(uint32_t base, int exponent, uint32_t chunk, int chunkExponent) {
        for (; exponent >= chunkExponent; exponent -= chunkExponent) multiply(chunk);
        for (; exponent > 0; --exponent) multiply(base);
    }

    std::string digits() const {
        std::string out = decimalDigits(limbs_.back());
        for (size_t i = limbs_.size() - 1; i-- > 0;) {
            char part[10];
            uint32_t limb = limbs_[i];
            for (int d = 8; d >= 0; --d) {
                part[d] = static_cast<char>('0' + limb % 10);
                limb /= 10;
            }
            out.append(part, 9);
        }
        return out;
    }

private:
    static constexpr uint32_t kBase = 1000000000u;
    std::vector<uint32_t> limbs_;
};

std::string exponentText(int exponent) {
    std::string out = exponent < 0 ? "e-" : "e+";
    const int magnitude = exponent < 0 ? -exponent : exponent;
    std::string digits = decimalDigits(static_cast<uint64_t>(magnitude));
    if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
    return out + digits;
}

void dropTrailingZeros(std::string &text) {
    if (text.find('.') == std::string::npos) return;
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
}

std::string nonFiniteText(bool negative, uint64_t fraction) {
    if (fraction == 0) return negative ? "-1.#INF" : "1.#INF";
    // The runtime names a NaN by its sign alone: the x87 default NaN has the
    // sign set and is its "indefinite" value.
    return negative ? "-1.#IND" : "1.#QNAN";
}

}  // namespace

std::string toText(int32_t value) {
    // Widened so that the most negative value negates safely.
    int64_t wide = value;
    const bool negative = wide < 0;
    if (negative) wide = -wide;
    std::string out = decimalDigits(static_cast<uint64_t>(wide));
    return negative ? "-" + out : out;
}

std::string toText(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const int biasedExponent = static_cast<int>((bits >> 52) & 0x7FF);
    const uint64_t fraction = bits & ((uint64_t(1) << 52) - 1);
    if (biasedExponent == 0x7FF) return nonFiniteText(negative, fraction);
    const std::string sign = negative ? "-" : "";
    if (biasedExponent == 0 && fraction == 0) return sign + "0";

    // |value| = mantissa * 2^binaryExponent, exactly.
    uint64_t mantissa = fraction;
    int binaryExponent = biasedExponent - 1075;
    if (biasedExponent == 0)
        binaryExponent = -1074;
    else
        mantissa |= uint64_t(1) << 52;

    // Exact decimal digits and the power of ten of the last digit.
    Decimal exact(mantissa);
    int lastDigitPower = 0;
    if (binaryExponent >= 0) {
        exact.multiplyByPower(2, binaryExponent, 1u << 29, 29);
    } else {
        exact.multiplyByPower(5, -binaryExponent, 1220703125u, 13);  // 5^13
        lastDigitPower = binaryExponent;
    }
    std::string digits = exact.digits();
    int exponent = static_cast<int>(digits.size()) - 1 + lastDigitPower;

    // Round to six significant digits; the expansion is exact, so a 5 in the
    // seventh place is at or above the half and rounds away from zero.
    if (digits.size() > kSignificant) {
        const bool roundUp = digits[kSignificant] >= '5';
        digits.resize(kSignificant);
        if (roundUp) {
            int i = kSignificant - 1;
            while (i >= 0 && digits[i] == '9') digits[i--] = '0';
            if (i >= 0) {
                ++digits[i];
            } else {
                digits.insert(digits.begin(), '1');
                digits.resize(kSignificant);
                ++exponent;
            }
        }
    }
    digits.resize(kSignificant, '0');

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
