#include "output/file_names.h"

#include <cstdint>

#include "text/digits.h"

namespace varnex {

namespace {

bool isEmpty(const char *symbol) { return symbol[0] == '\0'; }

// Bytes that make a name a path, a drive, a stream or an invalid name.
bool isUnsafeByte(unsigned char byte) {
    if (byte < 0x20) return true;
    switch (byte) {
        case '\\':
        case '/':
        case ':':
        case '*':
        case '?':
        case '"':
        case '<':
        case '>':
        case '|':
            return true;
        default:
            return false;
    }
}

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalsIgnoringCase(const std::string &text, const char *word) {
    size_t i = 0;
    for (; word[i] != '\0'; ++i)
        if (i >= text.size() || upper(text[i]) != word[i]) return false;
    return i == text.size();
}

// Windows opens these names as devices whatever the folder and extension.
bool isDeviceName(const std::string &symbol) {
    std::string base = symbol.substr(0, symbol.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (const char *device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (equalsIgnoringCase(base, device)) return true;
    if (base.size() != 4) return false;
    const std::string head = base.substr(0, 3);
    if (!equalsIgnoringCase(head, "COM") && !equalsIgnoringCase(head, "LPT")) return false;
    const unsigned char digit = static_cast<unsigned char>(base[3]);
    return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

bool isOrdinary(const std::string &symbol) {
    if (symbol.empty() || symbol.size() > kMaxStemBytes || symbol == "." || symbol == "..") return false;
    if (symbol[0] == '%') return false;
    for (char c : symbol)
        if (isUnsafeByte(static_cast<unsigned char>(c))) return false;
    return !isDeviceName(symbol);
}

std::string escaped(const std::string &symbol) {
    std::string out = "%";
    out.reserve(symbol.size() + 1);
    for (char c : symbol) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (isUnsafeByte(byte) || byte == '%' || byte == '~') {
            out += '%';
            appendHex(out, byte, 2);
        } else {
            out += c;
        }
    }
    return out;
}

uint64_t fnv1a64(const std::string &text) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

}  // namespace

std::string signalFileStem(const std::string &symbol) {
    if (isOrdinary(symbol)) return symbol;
    std::string stem = escaped(symbol);
    if (stem.size() <= kMaxStemBytes) return stem;
    size_t cut = kShortenedPrefixBytes;
    // A '%' in the last two kept bytes starts an escape that the cut would split.
    if (stem[cut - 1] == '%')
        cut -= 1;
    else if (stem[cut - 2] == '%')
        cut -= 2;
    stem.resize(cut);
    stem += '~';
    appendHex(stem, fnv1a64(symbol), 16);
    return stem;
}

std::string logPath(const char *driverName, const char *logFile) { return std::string(driverName) + logFile; }

std::string signalPath(const char *driverName, const char *symbol, const char *signalFile) {
    if (isEmpty(symbol)) return std::string(driverName) + signalFile;
    return std::string(driverName) + signalFileStem(symbol) + ".txt";
}

std::string signalDebugPath(const char *driverName, const char *symbol, const char *signalDebugFile) {
    if (isEmpty(symbol)) return std::string(driverName) + signalDebugFile;
    return std::string(driverName) + signalFileStem(symbol) + "_debug" + ".txt";
}

std::wstring extendedLengthPath(const std::wstring &absolute) {
    const bool twoBackslashes = absolute.compare(0, 2, L"\\\\") == 0;
    if (!twoBackslashes) return L"\\\\?\\" + absolute;
    const bool prefixed =
        absolute.size() >= 4 && (absolute[2] == L'?' || absolute[2] == L'.') && absolute[3] == L'\\';
    return prefixed ? absolute : L"\\\\?\\UNC\\" + absolute.substr(2);
}

namespace {

void appendStamp(std::string &out, const LocalTime &time) {
    appendDecimal(out, time.year, 4);
    out += '/';
    appendDecimal(out, time.month, 2);
    out += '/';
    appendDecimal(out, time.day, 2);
    out += ' ';
    appendDecimal(out, time.hour, 2);
    out += ':';
    appendDecimal(out, time.minute, 2);
    out += ':';
    appendDecimal(out, time.second, 2);
}

// Everything of a line after its stamp.
void appendLineRest(std::string &out, char separator, const char *text) {
    out += separator;
    for (const char *c = text; *c != '\0'; ++c) {
        if (*c == '\n') out += '\r';
        out += *c;
    }
    out += "\r\n";
}

}  // namespace

std::string stampText(const LocalTime &time) {
    std::string out;
    out.reserve(19);
    appendStamp(out, time);
    return out;
}

std::string outputLine(const char *stamp, char separator, const char *text) {
    std::string line(stamp);
    appendLineRest(line, separator, text);
    return line;
}

void appendOutputLines(std::string &out, const LocalTime &time, char separator, const std::string *texts,
                       size_t count) {
    const size_t stampStart = out.size();
    appendStamp(out, time);
    const size_t stampLength = out.size() - stampStart;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) out.append(out, stampStart, stampLength);
        appendLineRest(out, separator, texts[i].c_str());
    }
}

}  // namespace varnex
