#include "output/path_access.h"

#include "common/counts.h"
#include "output/file_names.h"

namespace varnex {

namespace {

// Empty when the path cannot be converted; the caller then falls back on the
// ANSI call, which fails as it always did.
std::wstring extendedWidePath(const std::string &path) {
    const int bytes = clampToInt(path.size());
    const int size = MultiByteToWideChar(CP_ACP, 0, path.data(), bytes, nullptr, 0);
    if (size <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(size), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, path.data(), bytes, &wide[0], size) != size) return std::wstring();
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return std::wstring();
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), needed, &full[0], nullptr);
    if (length == 0 || length >= needed) return std::wstring();
    full.resize(length);
    return extendedLengthPath(full);
}

}  // namespace

HANDLE createFileAt(const std::string &path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    if (passesMaxPath(path)) {
        const std::wstring wide = extendedWidePath(path);
        if (!wide.empty())
            return CreateFileW(wide.c_str(), access, share, nullptr, disposition, flags, nullptr);
    }
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

bool replaceFileWith(const std::string &from, const std::string &to) {
    if (passesMaxPath(from) || passesMaxPath(to)) {
        const std::wstring wideFrom = extendedWidePath(from), wideTo = extendedWidePath(to);
        if (!wideFrom.empty() && !wideTo.empty())
            return MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    }
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool deleteFileAt(const std::string &path) {
    if (passesMaxPath(path)) {
        const std::wstring wide = extendedWidePath(path);
        if (!wide.empty()) return DeleteFileW(wide.c_str()) != FALSE;
    }
    return DeleteFileA(path.c_str()) != FALSE;
}

}  // namespace varnex
