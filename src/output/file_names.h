// Where the output files go. Pure text work (no Win32 types), so it is
// unit-tested without a disk and fuzzed natively.
#ifndef VARNEX_OUTPUT_FILE_NAMES_H
#define VARNEX_OUTPUT_FILE_NAMES_H

#include <cstddef>
#include <string>

namespace varnex {

// The names, under driverName, of the files the library writes besides the
// symbols' own: the empty symbol's signal and debug files and the log, whose
// daily names (see dailyLogName) count too. No symbol's file is ever one of them.
struct LibraryFiles {
    std::string signalFile;
    std::string signalDebugFile;
    std::string logFile;
};

// driverName is a prefix joined without a separator; it carries its own backslash.
std::string logPath(const char *driverName, const char *logFile);
// The empty symbol uses the configured file; any other symbol uses
// driverName + signalFileStem(symbol, files) + ".txt" (or "_debug.txt").
std::string signalPath(const char *driverName, const char *symbol, const LibraryFiles &files);
std::string signalDebugPath(const char *driverName, const char *symbol, const LibraryFiles &files);

// Longest stem kept as a whole (plain or escaped); longer ones are shortened.
constexpr std::size_t kMaxStemBytes = 200;
// How many bytes of the escaped text a shortened stem keeps before its hash.
constexpr std::size_t kShortenedPrefixBytes = 64;

// The file-name stem of a symbol's signal files. An ordinary symbol is its
// own stem, byte for byte, so existing files keep their names. A symbol is
// ordinary unless it
//   - is empty, "." or "..", or starts with '%';
//   - holds a byte below 0x20 or one of  \ / : * ? " < > |  (a path, a drive,
//     an NTFS stream, or a byte no file name can hold), or a '~' (which 8.3
//     short names hold: "LONG~3W3.txt" may open "LONGSYMBOLNAME1.txt");
//   - ends with "_debug" in any letter case (its signal file would be the
//     debug file of the symbol before it);
//   - names a device before its first '.' (trailing blanks ignored, any
//     letter case): CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9, COM and LPT
//     followed by a superscript 1, 2 or 3 (0xB9 0xB2 0xB3), CONIN$, CONOUT$;
//   - would have one of `files` as its signal or debug file ("Signal" with the
//     default names, "VarnexMsg", "VarnexMsg-20261209");
//   - is longer than kMaxStemBytes.
// Any other symbol is written as '%' followed by the symbol with every byte
// below 0x20 and every one of  \ / : * ? " < > | % ~  as %XX (two upper-case
// hex digits), and the '_' of a closing "_debug" as %5F; should that still
// name one of `files` (a configured name that looks escaped), the bytes
// after the '%' are escaped one by one until it does not. No device name
// starts with '%', ordinary symbols never start with '%', and every %XX
// reads back as its byte, so no two symbols meet. If that text is longer
// than kMaxStemBytes, the stem is its first kShortenedPrefixBytes bytes
// (never cutting a %XX apart), '~', and the 64-bit FNV-1a hash of the whole
// symbol in 16 upper-case hex digits: longer than any 8.3 name, and since
// escaped stems hold no '~', a shortened stem never equals another kind;
// two shortened stems meet only if their hashes do. Bytes 0x80-0xFF are
// kept: they are valid in names of the ANSI code page. The file system
// compares names without regard to letter case, so symbols that differ only
// in case share their files.
std::string signalFileStem(const std::string &symbol, const LibraryFiles &files);

// The ANSI file functions take paths of up to MAX_PATH characters, the NUL
// included; longer ones fail (silently, for a writer that skips what it
// cannot write) unless given to the wide functions in extended-length form.
constexpr std::size_t kMaxPathWithNul = 260;
inline bool exceedsMaxPath(const std::string &path) { return path.size() + 1 > kMaxPathWithNul; }
// The extended-length form of an absolute path: "\\?\" before a drive
// path, "\\?\UNC\server\share\..." for "\\server\share\...". Paths
// in that form already, and device paths ("\\.\"), are returned as they
// stand. The system no longer normalises such a path, so `absolute` must be
// normalised already (GetFullPathNameW).
std::wstring extendedLengthPath(const std::wstring &absolute);

}  // namespace varnex

#endif
