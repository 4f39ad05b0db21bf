#include "output/path_access.h"

#include "common/counts.h"
#include "common/handles.h"
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

std::string ansiName(const wchar_t *wide) {
    const int size = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string name(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, -1, &name[0], size, nullptr, nullptr);
    name.resize(static_cast<size_t>(size) - 1);
    return name;
}

}  // namespace

HANDLE createFileAt(const std::string &path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    if (exceedsMaxPath(path)) {
        const std::wstring wide = extendedWidePath(path);
        if (!wide.empty())
            return CreateFileW(wide.c_str(), access, share, nullptr, disposition, flags, nullptr);
    }
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

bool replaceFileWith(const std::string &from, const std::string &to) {
    if (exceedsMaxPath(from) || exceedsMaxPath(to)) {
        const std::wstring wideFrom = extendedWidePath(from), wideTo = extendedWidePath(to);
        if (!wideFrom.empty() && !wideTo.empty())
            return MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    }
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool deleteFileAt(const std::string &path) {
    if (exceedsMaxPath(path)) {
        const std::wstring wide = extendedWidePath(path);
        if (!wide.empty()) return DeleteFileW(wide.c_str()) != FALSE;
    }
    return DeleteFileA(path.c_str()) != FALSE;
}

bool attributesAt(const std::string &path, WIN32_FILE_ATTRIBUTE_DATA *data) {
    if (exceedsMaxPath(path)) {
        const std::wstring wide = extendedWidePath(path);
        if (!wide.empty()) return GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, data) != FALSE;
    }
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, data) != FALSE;
}

std::vector<std::string> fileNamesIn(const std::string &folder, const std::string &pattern) {
    std::vector<std::string> names;
    const std::string search = folder + pattern;
    const std::wstring wide = exceedsMaxPath(search) ? extendedWidePath(search) : std::wstring();
    if (!wide.empty()) {
        WIN32_FIND_DATAW found;
        UniqueFindHandle find(
            FindFirstFileExW(wide.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
        if (!find) return names;
        do
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.push_back(ansiName(found.cFileName));
        while (FindNextFileW(find.get(), &found));
        return names;
    }
    WIN32_FIND_DATAA found;
    UniqueFindHandle find(
        FindFirstFileExA(search.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (!find) return names;
    do
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    while (FindNextFileA(find.get(), &found));
    return names;
}

bool writeAll(HANDLE file, const std::string &bytes) {
    // One WriteFile per call; output lines are far below 4 GiB.
    if (bytes.size() > MAXDWORD) return false;
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

DWORD lastErrorOr(DWORD fallback) {
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? fallback : error;
}

}  // namespace varnex
