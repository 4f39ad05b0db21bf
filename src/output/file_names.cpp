#include "output/file_names.h"

#include <cstdint>

#include "output/log_names.h"
#include "text/ascii_case.h"
#include "text/digits.h"
#include "text/fnv1a.h"

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

bool equalsIgnoringCase(const std::string &text, const char *word) {
    size_t i = 0;
    for (; word[i] != '\0'; ++i)
        if (i >= text.size() || asciiUpper(text[i]) != word[i]) return false;
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

constexpr const char *kDebugEnding = "_debug";
constexpr size_t kDebugEndingBytes = 6;

bool endsWithDebug(const std::string &text) {
    return text.size() >= kDebugEndingBytes &&
           equalsIgnoringCase(text.substr(text.size() - kDebugEndingBytes), "_DEBUG");
}

// Windows drops the dots and blanks that end a name when it opens a file.
std::string openedName(const std::string &name) {
    size_t end = name.size();
    while (end > 0 && (name[end - 1] == '.' || name[end - 1] == ' ')) --end;
    return name.substr(0, end);
}

bool sameName(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (asciiUpper(a[i]) != asciiUpper(b[i])) return false;
    return true;
}

// Whether a symbol whose stem is `stem` would write one of the library's own files.
bool takenByLibrary(const std::string &stem, const LibraryFiles &files) {
    for (const char *suffix : {".txt", "_debug.txt"}) {
        const std::string name = stem + suffix;
        for (const std::string *own : {&files.signalFile, &files.signalDebugFile, &files.logFile})
            if (sameName(name, openedName(*own))) return true;
        if (dailyLogDate(name, files.logFile)) return true;
    }
    return false;
}

bool isOrdinary(const std::string &symbol) {
    if (symbol.empty() || symbol.size() > kMaxStemBytes || symbol == "." || symbol == "..") return false;
    if (symbol[0] == '%' || endsWithDebug(symbol)) return false;
    for (char c : symbol)
        if (isUnsafeByte(static_cast<unsigned char>(c)) || c == '~') return false;
    return !isDeviceName(symbol);
}

void appendEscape(std::string &out, unsigned char byte) {
    out += '%';
    appendHex(out, byte, 2);
}

std::string escaped(const std::string &symbol) {
    std::string out = "%";
    out.reserve(symbol.size() + 3);
    const size_t debugUnderscore = endsWithDebug(symbol) ? symbol.size() - kDebugEndingBytes : symbol.size();
    for (size_t i = 0; i < symbol.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(symbol[i]);
        if (isUnsafeByte(byte) || byte == '%' || byte == '~' || i == debugUnderscore)
            appendEscape(out, byte);
        else
            out += symbol[i];
    }
    return out;
}

// Escapes the plain bytes of an escaped stem one by one, from the front,
// until it names none of the library's files. Each step keeps the stem
// readable back as the same symbol.
void escapeUntilFree(std::string &stem, const LibraryFiles &files) {
    size_t at = 1;
    while (at < stem.size() && takenByLibrary(stem, files)) {
        if (stem[at] == '%') {
            at += 3;
            continue;
        }
        std::string code;
        appendEscape(code, static_cast<unsigned char>(stem[at]));
        stem.replace(at, 1, code);
        at += code.size();
    }
}

}  // namespace

std::string signalFileStem(const std::string &symbol, const LibraryFiles &files) {
    if (isOrdinary(symbol) && !takenByLibrary(symbol, files)) return symbol;
    std::string stem = escaped(symbol);
    escapeUntilFree(stem, files);
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

std::string signalPath(const char *driverName, const char *symbol, const LibraryFiles &files) {
    if (isEmpty(symbol)) return std::string(driverName) + files.signalFile;
    return std::string(driverName) + signalFileStem(symbol, files) + ".txt";
}

std::string signalDebugPath(const char *driverName, const char *symbol, const LibraryFiles &files) {
    if (isEmpty(symbol)) return std::string(driverName) + files.signalDebugFile;
    return std::string(driverName) + signalFileStem(symbol, files) + kDebugEnding + ".txt";
}

std::wstring extendedLengthPath(const std::wstring &absolute) {
    const bool twoBackslashes = absolute.compare(0, 2, L"\\\\") == 0;
    if (!twoBackslashes) return L"\\\\?\\" + absolute;
    const bool prefixed =
        absolute.size() >= 4 && (absolute[2] == L'?' || absolute[2] == L'.') && absolute[3] == L'\\';
    return prefixed ? absolute : L"\\\\?\\UNC\\" + absolute.substr(2);
}

}  // namespace varnex
