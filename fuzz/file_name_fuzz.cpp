// Signal file names: whatever the symbol, the stem is one plain file name
// (no folder, drive, stream or device, never "." or ".."), short enough for a
// path, an ordinary symbol is its own stem, and two different symbols (the
// input split at its first NUL byte) never share one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "output/file_names.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

bool forbidden(unsigned char byte) { return byte < 0x20 || std::strchr("\\/:*?\"<>|", byte) != nullptr; }

std::string upperAscii(std::string text) {
    for (char &c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// Independent of the library: what Windows takes for a device before the
// first dot, trailing blanks ignored, any letter case.
bool isDevice(const std::string &name) {
    std::string base = upperAscii(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" || base == "CONOUT$")
        return true;
    if (base.size() != 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)) return false;
    const unsigned char last = static_cast<unsigned char>(base[3]);
    return (last >= '0' && last <= '9') || last == 0xB9 || last == 0xB2 || last == 0xB3;
}

bool ordinary(const std::string &symbol) {
    if (symbol.empty() || symbol.size() > varnex::kMaxStemBytes || symbol[0] == '%') return false;
    if (symbol == "." || symbol == "..") return false;
    for (char c : symbol)
        if (forbidden(static_cast<unsigned char>(c))) return false;
    return !isDevice(symbol);
}

void checkStem(const std::string &symbol, const std::string &stem) {
    check(!stem.empty() && stem != "." && stem != "..");
    check(stem.size() <= varnex::kMaxStemBytes);
    for (char c : stem) check(!forbidden(static_cast<unsigned char>(c)));
    check(!isDevice(stem) && !isDevice(stem + ".txt") && !isDevice(stem + "_debug.txt"));
    if (ordinary(symbol)) check(stem == symbol);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    const size_t nul = input.find('\0');
    // A symbol from the host ends at its first NUL.
    const std::string first = input.substr(0, nul);
    const std::string firstStem = varnex::signalFileStem(first);
    checkStem(first, firstStem);
    if (nul != std::string::npos) {
        const std::string second = input.substr(nul + 1, input.find('\0', nul + 1) - nul - 1);
        const std::string secondStem = varnex::signalFileStem(second);
        checkStem(second, secondStem);
        check((first == second) == (firstStem == secondStem));
    }
    return 0;
}
