// How the texts and numbers read from the INI file are interpreted. Pure, so
// the rules can be unit-tested and fuzzed without the profile functions.
#ifndef VARNEX_CONFIG_SETTING_VALUES_H
#define VARNEX_CONFIG_SETTING_VALUES_H

#include <cstdint>
#include <string>
#include <vector>

namespace varnex {

constexpr int32_t kDefaultAckTimeoutMs = 5000;
// The longest ackTimeout taken: two minutes is already far past any server
// that still answers, and each step of a relay may wait this long.
constexpr int32_t kLongestAckTimeoutMs = 120000;

// On only for exactly "True" or "true" (case-sensitive, nothing around it).
bool isSwitchOn(const char *text);

// A number read as the platform's integer reading (GetPrivateProfileIntA)
// takes the text of a key that is present: blanks skipped, an optional sign,
// a 0x, 0o or 0b prefix (lower case only) for hexadecimal, octal or binary,
// then digits up to the first that does not belong; no digits give 0.
// Unlike the platform, it never wraps: a number beyond what 64 bits hold
// stays at the nearest end, so 70000 or 99999999999 is read as written and
// found out of range, never taken for 4464 or 1215752191.
// Only the first 29 characters count, as the platform reads no more; an
// empty text gives `fallback`.
int64_t profileNumber(const std::string &text, int64_t fallback);

// The ackTimeout a relay uses: one above kLongestAckTimeoutMs is brought
// down to it; zero or less (no wait at all) means the default.
int32_t effectiveAckTimeout(int64_t written);

// How the log is named: one file, or one file per day of its lines.
enum class LogRotation { Single, Daily };

// "daily" in any letter case is Daily; any other text (none, off, a typo)
// leaves the single file.
LogRotation logRotationOf(const std::string &text);
// The texts the doctor takes for meant: daily, and the words for no rotation
// ("", off, none, single, no), any letter case.
bool isKnownLogRotation(const std::string &text);

// A number of days below zero would delete logs no one asked to delete, so
// it keeps every log, as 0 does; more days than 32 bits hold keep every log too.
int32_t effectiveKeepDays(int64_t written);

// The identifiers of a "clientID" list: split at every ",", empty ones kept,
// untrimmed; a repeated identifier keeps its first place.
std::vector<std::string> clientIdentifiers(const std::string &clientIdList);

}  // namespace varnex

#endif
