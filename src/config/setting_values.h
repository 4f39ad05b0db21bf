// How the texts and numbers read from the INI file are interpreted. Pure, so
// the rules can be unit-tested and fuzzed without the profile functions.
#ifndef VARNEX_CONFIG_SETTING_VALUES_H
#define VARNEX_CONFIG_SETTING_VALUES_H

#include <cstdint>
#include <string>
#include <vector>

namespace varnex {

constexpr int32_t kDefaultAckTimeoutMs = 5000;

// On only for exactly "True" or "true" (case-sensitive, nothing around it).
bool isSwitchOn(const char *text);

// A number as the platform's integer reading (GetPrivateProfileIntA) takes
// the text of a key that is present: blanks skipped, an optional sign, a
// 0x, 0o or 0b prefix (lower case only) for hexadecimal, octal or binary,
// then digits up to the first that does not belong, wrapping past 32 bits;
// no digits give 0.
// Only the first 29 characters count, as the platform reads no more; an
// empty text gives `fallback`.
int32_t profileInt(const std::string &text, int32_t fallback);

// A limit of zero or less would fail every order, so it means the default.
int32_t effectiveAckTimeout(int32_t configured);

// How the log is named: one file, or one file per day of its lines.
enum class LogRotation { Single, Daily };

// "daily" in any letter case is Daily; any other text (none, off, a typo)
// leaves the single file.
LogRotation logRotationOf(const std::string &text);
// The texts the doctor takes for meant: daily, and the words for no rotation
// ("", off, none, single, no), any letter case.
bool isKnownLogRotation(const std::string &text);

// A number of days below zero would delete logs no one asked to delete, so
// it keeps every log, as 0 does.
int32_t effectiveKeepDays(int32_t configured);

// The identifiers of a "clientID" list: split at every ",", empty ones kept,
// untrimmed; a repeated identifier keeps its first place.
std::vector<std::string> clientIdentifiers(const std::string &clientIdList);

}  // namespace varnex

#endif
