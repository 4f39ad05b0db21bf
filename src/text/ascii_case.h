// Letter case as the file system compares names here: only the 26 ASCII
// letters have a case, whatever the host's locale, so no byte of a name in
// the ANSI code page (0x80-0xFF) is ever taken for another.
#ifndef VARNEX_TEXT_ASCII_CASE_H
#define VARNEX_TEXT_ASCII_CASE_H

#include <string>

namespace varnex {

inline char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string asciiUpper(std::string text) {
    for (char &c : text) c = asciiUpper(c);
    return text;
}

inline std::string asciiLower(std::string text) {
    for (char &c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

}  // namespace varnex

#endif
