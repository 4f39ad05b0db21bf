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

namespace varnex {

// CreateFile with no security attributes and no template.
HANDLE createFileAt(const std::string &path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
// MoveFileEx with MOVEFILE_REPLACE_EXISTING; GetLastError tells why it failed.
bool replaceFileWith(const std::string &from, const std::string &to);
bool deleteFileAt(const std::string &path);

}  // namespace varnex

#endif
