#include "status/status_file.h"

#include <windows.h>

#include "common/handles.h"
#include "status/status_report.h"

namespace varnex {

StatusFile::StatusFile(const std::string &folder, uint32_t pid)
    : path_(folder + statusFileName(pid)), temporary_(path_ + ".new") {}

bool StatusFile::write(const std::string &text) noexcept {
    {
        UniqueHandle file(CreateFileA(temporary_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD written = 0;
        if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size()) {
            file.reset();
            DeleteFileA(temporary_.c_str());
            return false;
        }
    }
    if (MoveFileExA(temporary_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    DeleteFileA(temporary_.c_str());
    return false;
}

void StatusFile::remove() noexcept {
    DeleteFileA(path_.c_str());
    DeleteFileA(temporary_.c_str());
}

}  // namespace varnex
