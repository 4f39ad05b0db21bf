// SettingsFile over real INI files (a full path is used as it stands by the
// profile functions).
#include "config/settings_file.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <iterator>
#include <string>
#include <vector>

#include "config/setting_values.h"
#include "support/temp_folder.h"

using namespace varnex;
using varnex_test::TempFolder;

namespace {

// readVarnexConfig reads a number's text once and turns it into the number
// itself: as the platform reads it while that fits in 32 bits, and never
// wrapped beyond. A value is read whole, past the platform's usual 254.
TEST(SettingsFile, ANumbersTextReadsAsThePlatformReadsItButNeverWraps) {
    TempFolder folder;
    const struct {
        std::string text;
        int64_t number;
    } cases[] = {{"42", 42},
                 {"-5", -5},
                 {"+7", 7},
                 {"12abc", 12},
                 {"0x1F", 31},
                 {"0X10", 0},
                 {"0o17", 15},
                 {"0b101", 5},
                 {"08", 8},
                 {"abc", 0},
                 {"-", 0},
                 {"0x", 0},
                 {"", 7},
                 {"70000", 70000},
                 {"99999999999", 99999999999},
                 {"-99999999999999999999", INT64_MIN},
                 {"1" + std::string(40, '0'), INT64_MAX}};
    const std::string longValue = std::string(800, 'L') + "," + std::string(5000, 'M');
    std::string content = "[N]\r\nlong=" + longValue + "\r\n";
    for (size_t i = 0; i < std::size(cases); ++i)
        content += "k" + std::to_string(i) + "=" + cases[i].text + "\r\n";
    const std::string numbersPath = folder.file("numbers.ini");
    varnex_test::writeFile(numbersPath, content);
    const SettingsFile numbers(numbersPath.c_str());
    std::string text;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string key = "k" + std::to_string(i);
        ASSERT_TRUE(numbers.lookUp("N", key.c_str(), text)) << key;
        EXPECT_EQ(text, cases[i].text);
        EXPECT_EQ(profileNumber(text, 7), cases[i].number) << text;
        if (cases[i].number >= INT32_MIN && cases[i].number <= INT32_MAX)
            EXPECT_EQ(profileNumber(text, 7),
                      static_cast<int32_t>(GetPrivateProfileIntA("N", key.c_str(), 7, numbersPath.c_str())))
                << text;
    }
    ASSERT_TRUE(numbers.lookUp("N", "long", text));
    EXPECT_EQ(text, longValue);
    EXPECT_FALSE(numbers.lookUp("N", "missing", text));
    EXPECT_EQ(text, "");
}

TEST(SettingsFile, AMissingFileHasNoKeys) {
    TempFolder folder;
    const SettingsFile none(folder.file("absent.ini").c_str());
    std::string text = "stale";
    EXPECT_FALSE(none.lookUp("S", "word", text));
    EXPECT_EQ(text, "");
}

}  // namespace
