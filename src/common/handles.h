// Owner of a kernel handle. Both 0 and INVALID_HANDLE_VALUE mean "no handle",
// since CreateFile/CreateNamedPipe fail with the one and CreateThread with the other.
#ifndef VARNEX_COMMON_HANDLES_H
#define VARNEX_COMMON_HANDLES_H

#include <windows.h>

namespace varnex {

inline bool holdsHandle(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle &&other) noexcept : handle_(other.release()) {}
    UniqueHandle &operator=(UniqueHandle &&other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle &) = delete;
    UniqueHandle &operator=(const UniqueHandle &) = delete;

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return holdsHandle(handle_); }
    HANDLE release() {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    void reset(HANDLE handle = nullptr) {
        if (holdsHandle(handle_)) CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_ = nullptr;
};

}  // namespace varnex

#endif
