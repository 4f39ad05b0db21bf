// FNV-1a hashes of names: cheap, and stable across processes and versions,
// which their users rely on. The 32-bit hash of a path picks its append
// guard in a table that every process of the session shares, and a
// shortened file-name stem carries the 64-bit hash of its symbol, so the
// constants and the byte order are part of what is on disk and in memory
// shared with other processes. Not a defence against chosen inputs.
#ifndef VARNEX_TEXT_FNV1A_H
#define VARNEX_TEXT_FNV1A_H

#include <cstdint>
#include <string>

#include "text/ascii_case.h"

namespace varnex {

namespace fnv1a_detail {

template <typename Word, Word kOffsetBasis, Word kPrime, typename Fold>
Word hash(const std::string &text, Fold fold) {
    Word value = kOffsetBasis;
    for (char c : text) value = static_cast<Word>((value ^ static_cast<unsigned char>(fold(c))) * kPrime);
    return value;
}

inline char same(char c) { return c; }

}  // namespace fnv1a_detail

// The 64-bit FNV-1a hash of the bytes of `text`.
inline uint64_t fnv1a64(const std::string &text) {
    return fnv1a_detail::hash<uint64_t, 0xcbf29ce484222325ull, 0x100000001b3ull>(text, fnv1a_detail::same);
}

// The 32-bit FNV-1a hash of `text` with its ASCII letters upper-cased, so
// that paths differing only in letter case, which name one file, hash alike.
inline uint32_t fnv1a32IgnoringCase(const std::string &text) {
    return fnv1a_detail::hash<uint32_t, 2166136261u, 16777619u>(text, [](char c) { return asciiUpper(c); });
}

}  // namespace varnex

#endif
