// Signal file names: whatever the symbol, the stem is one plain file name
// (no folder, drive, stream or device, never "." or ".."), short enough for a
// path, an ordinary symbol is its own stem, neither of its files is one of
// the library's own (default names) or another symbol's, and two different
// symbols (the input split at its first NUL byte) never share one.
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
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
        base == "CONOUT$")
        return true;
    if (base.size() != 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)) return false;
    const unsigned char last = static_cast<unsigned char>(base[3]);
    return (last >= '0' && last <= '9') || last == 0xB9 || last == 0xB2 || last == 0xB3;
}

const varnex::LibraryFiles kFiles{"Signal.txt", "SignalDebug.txt", "VarnexMsg.txt"};

bool endsWithDebug(const std::string &name) {
    return name.size() >= 6 && upperAscii(name.substr(name.size() - 6)) == "_DEBUG";
}

// A name the library writes itself: one of kFiles, or a daily log of a day
// that every month has.
bool librarys(const std::string &name) {
    const std::string upper = upperAscii(name);
    if (upper == "SIGNAL.TXT" || upper == "SIGNALDEBUG.TXT" || upper == "VARNEXMSG.TXT") return true;
    if (upper.size() != 22 || upper.compare(0, 10, "VARNEXMSG-") != 0 || upper.compare(18, 4, ".TXT") != 0)
        return false;
    for (size_t i = 10; i < 18; ++i)
        if (upper[i] < '0' || upper[i] > '9') return false;
    const int month = (upper[14] - '0') * 10 + (upper[15] - '0'),
              day = (upper[16] - '0') * 10 + (upper[17] - '0');
    return month >= 1 && month <= 12 && day >= 1 && day <= 28;
}

// Ordinary, and far from any of the library's own names.
bool plainlyOrdinary(const std::string &symbol) {
    if (symbol.empty() || symbol.size() > varnex::kMaxStemBytes || symbol[0] == '%') return false;
    if (symbol == "." || symbol == ".." || endsWithDebug(symbol)) return false;
    const std::string upper = upperAscii(symbol);
    if (upper.compare(0, 6, "SIGNAL") == 0 || upper.compare(0, 9, "VARNEXMSG") == 0) return false;
    for (char c : symbol)
        if (forbidden(static_cast<unsigned char>(c)) || c == '~') return false;
    return !isDevice(symbol);
}

void checkStem(const std::string &symbol, const std::string &stem) {
    check(!stem.empty() && stem != "." && stem != "..");
    check(stem.size() <= varnex::kMaxStemBytes);
    for (char c : stem) check(!forbidden(static_cast<unsigned char>(c)));
    check(!isDevice(stem) && !isDevice(stem + ".txt") && !isDevice(stem + "_debug.txt"));
    // No 8.3 alias, and no signal file that is another symbol's debug file.
    check(stem.find('~') == std::string::npos || stem.size() > 12);
    check(!endsWithDebug(stem));
    check(!librarys(stem + ".txt") && !librarys(stem + "_debug.txt"));
    if (plainlyOrdinary(symbol)) check(stem == symbol);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    const size_t nul = input.find('\0');
    // A symbol from the host ends at its first NUL.
    const std::string first = input.substr(0, nul);
    const std::string firstStem = varnex::signalFileStem(first, kFiles);
    checkStem(first, firstStem);
    if (nul != std::string::npos) {
        const std::string second = input.substr(nul + 1, input.find('\0', nul + 1) - nul - 1);
        const std::string secondStem = varnex::signalFileStem(second, kFiles);
        checkStem(second, secondStem);
        check((first == second) == (firstStem == secondStem));
    }
    return 0;
}
