// The renderer against the Windows C runtime's own "%g", called through
// msvcrt.dll explicitly so that no printf replacement can stand in for it.
#include "text/number_text.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

using varnex::toText;

namespace {

using SnprintfFn = int(__cdecl *)(char *, size_t, const char *, ...);

std::string msvcrtG(double value) {
    static SnprintfFn fn =
        reinterpret_cast<SnprintfFn>(GetProcAddress(GetModuleHandleA("msvcrt.dll"), "_snprintf"));
    char buffer[64] = {};
    fn(buffer, sizeof buffer - 1, "%g", value);
    return buffer;
}

double fromBits(uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Stops after the first few mismatches so one fault does not flood the log.
void expectSameAsRuntime(const std::vector<double> &values) {
    int mismatches = 0;
    for (double value : values) {
        const std::string expected = msvcrtG(value);
        const std::string actual = toText(value);
        if (expected != actual) {
            uint64_t bits;
            std::memcpy(&bits, &value, sizeof bits);
            ADD_FAILURE() << "bits " << std::hex << bits << ": msvcrt " << expected << ", ours " << actual;
            if (++mismatches == 10) return;
        }
    }
}

TEST(NumberText, IntegersAsPercentD) {
    EXPECT_EQ(toText(int32_t(0)), "0");
    EXPECT_EQ(toText(int32_t(-1)), "-1");
    EXPECT_EQ(toText(int32_t(1000000)), "1000000");
    EXPECT_EQ(toText(std::numeric_limits<int32_t>::min()), "-2147483648");
    EXPECT_EQ(toText(std::numeric_limits<int32_t>::max()), "2147483647");
}

TEST(NumberText, PricesInGeneralNotation) {
    EXPECT_EQ(toText(3.0), "3");
    EXPECT_EQ(toText(12345.678), "12345.7");
    EXPECT_EQ(toText(0.1), "0.1");
    EXPECT_EQ(toText(98.5), "98.5");
    EXPECT_EQ(toText(1234567.0), "1.23457e+006");
    EXPECT_EQ(toText(0.00001234), "1.234e-005");
    EXPECT_EQ(toText(0.0001), "0.0001");
    EXPECT_EQ(toText(999999.5), "1e+006");
    EXPECT_EQ(toText(1e300), "1e+300");
    EXPECT_EQ(toText(-0.5), "-0.5");
}

TEST(NumberText, ExactHalvesRoundAwayFromZero) {
    EXPECT_EQ(toText(123456.5), "123457");
    EXPECT_EQ(toText(112.0625), "112.063");
    EXPECT_EQ(toText(-112.0625), "-112.063");
    EXPECT_EQ(toText(0.5), "0.5");
}

TEST(NumberText, NonFiniteAsTheRuntimeWritesThem) {
    EXPECT_EQ(toText(std::numeric_limits<double>::infinity()), "1.#INF");
    EXPECT_EQ(toText(-std::numeric_limits<double>::infinity()), "-1.#INF");
    EXPECT_EQ(toText(fromBits(0x7FF8000000000000ull)), "1.#QNAN");
    EXPECT_EQ(toText(fromBits(0xFFF8000000000000ull)), "-1.#IND");
}

TEST(NumberText, MatchesRuntimeOnSpecialValues) {
    expectSameAsRuntime(
        {0.0, -0.0, std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::min(),
         std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(),
         std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
         fromBits(0x7FF8000000000000ull), fromBits(0xFFF8000000000000ull), fromBits(0x7FF8000000000001ull),
         fromBits(0xFFF8000000000001ull), fromBits(0x7FF0000000000001ull), fromBits(0xFFF0000000000001ull)});
}

TEST(NumberText, MatchesRuntimeOnRandomBitPatterns) {
    std::mt19937_64 random(20261208);
    std::vector<double> values;
    for (int i = 0; i < 20000; ++i) {
        values.push_back(fromBits(random()));
    }
    expectSameAsRuntime(values);
}

TEST(NumberText, MatchesRuntimeOnBinaryFractionTies) {
    std::mt19937_64 random(7);
    std::vector<double> values;
    for (int i = 0; i < 20000; ++i) {
        // k / 2^s with seven or more significant digits: many end in an exact 5.
        const double k = static_cast<double>(random() % 100000000000ull);
        values.push_back(std::ldexp(k, -static_cast<int>(random() % 24)));
        values.push_back(-std::ldexp(k, -static_cast<int>(random() % 24)));
    }
    expectSameAsRuntime(values);
}

TEST(NumberText, MatchesRuntimeOnPricesWithCents) {
    std::vector<double> values;
    for (int cents = 0; cents < 300000; cents += 7) values.push_back(cents / 100.0 + 1000.0 * (cents % 13));
    for (int ticks = 0; ticks < 20000; ++ticks) values.push_back(ticks * 0.25 + 100000.0);
    expectSameAsRuntime(values);
}

TEST(NumberText, MatchesRuntimeNearEveryExponentBoundary) {
    std::vector<double> values;
    for (int power = -320; power <= 308; ++power) {
        const double boundary = std::pow(10.0, power);
        for (double factor : {0.9999995, 0.99999949, 0.99999951, 1.0, 1.0000005, 9.999995, 9.9999949}) {
            double value = boundary * factor;
            values.push_back(value);
            values.push_back(std::nextafter(value, 0.0));
            values.push_back(std::nextafter(value, HUGE_VAL));
        }
    }
    expectSameAsRuntime(values);
}

}  // namespace
