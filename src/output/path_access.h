// The file calls of the output files, for paths of any length that the
// configuration allows: a driverName of 254 characters and a stem of 200
// make paths far past MAX_PATH. A path within MAX_PATH goes to the ANSI
// function as it stands, exactly as the host's own calls would; a longer one
// is converted with the ANSI code page, made absolute and handed to the wide
// function in extended-length form.
#ifndef VARNEX_OUTPUT_PATH_ACCESS_H
#define VARNEX_OUTPUT_PATH_ACCESS_H

#include <windows.h>

#include <string>
#include <vector>

namespace varnex {

// CreateFile with no security attributes and no template.
HANDLE createFileAt(const std::string &path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
// MoveFileEx with MOVEFILE_REPLACE_EXISTING; GetLastError tells why it failed.
bool replaceFileWith(const std::string &from, const std::string &to);
bool deleteFileAt(const std::string &path);
// GetFileAttributesEx: the attributes, times and size of the file at the path.
bool attributesAt(const std::string &path, WIN32_FILE_ATTRIBUTE_DATA *data);
// The names of the files (not folders) in `folder` (with its trailing
// backslash) that match the wildcard `pattern`, as long names in the ANSI
// code page; empty when there are none or the folder cannot be read.
std::vector<std::string> fileNamesIn(const std::string &folder, const std::string &pattern);

// One WriteFile of all the bytes; false if fewer were written.
bool writeAll(HANDLE file, const std::string &bytes);
// GetLastError, or `fallback` when the failed call left no error behind.
DWORD lastErrorOr(DWORD fallback);

}  // namespace varnex

#endif
