// Owners of kernel handles and sockets, one per kind, each knowing its own
// "no handle" value (as wil's unique_any does with its traits).
#ifndef VARNEX_COMMON_HANDLES_H
#define VARNEX_COMMON_HANDLES_H

#include <windows.h>

namespace varnex {

// Closes what it holds on reset and destruction; movable, never copied.
// `Traits` gives the type, its "no handle" value, the test and the close.
template <typename Traits>
class UniqueOwner {
public:
    using Type = typename Traits::Type;

    UniqueOwner() = default;
    explicit UniqueOwner(Type value) : value_(value) {}
    ~UniqueOwner() { reset(); }
    UniqueOwner(UniqueOwner &&other) noexcept : value_(other.release()) {}
    UniqueOwner &operator=(UniqueOwner &&other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueOwner(const UniqueOwner &) = delete;
    UniqueOwner &operator=(const UniqueOwner &) = delete;

    Type get() const { return value_; }
    explicit operator bool() const { return Traits::holds(value_); }
    Type release() {
        const Type value = value_;
        value_ = Traits::none();
        return value;
    }
    void reset(Type value = Traits::none()) {
        if (Traits::holds(value_)) Traits::close(value_);
        value_ = value;
    }

private:
    Type value_ = Traits::none();
};

// Both 0 and INVALID_HANDLE_VALUE mean "no handle", since CreateFile and
// CreateNamedPipe fail with the one and CreateThread with the other.
inline bool holdsHandle(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type none() { return nullptr; }
    static bool holds(Type handle) { return holdsHandle(handle); }
    static void close(Type handle) { CloseHandle(handle); }
};

using UniqueHandle = UniqueOwner<KernelHandleTraits>;

// A folder search of FindFirstFile: INVALID_HANDLE_VALUE when it failed,
// ended with FindClose.
struct FindHandleTraits {
    using Type = HANDLE;
    static Type none() { return INVALID_HANDLE_VALUE; }
    static bool holds(Type handle) { return handle != INVALID_HANDLE_VALUE; }
    static void close(Type handle) { FindClose(handle); }
};

using UniqueFindHandle = UniqueOwner<FindHandleTraits>;

}  // namespace varnex

#endif

// The socket owner exists only where <winsock2.h> came before this header
// (as wil's unique_socket does): without WIN32_LEAN_AND_MEAN <windows.h>
// brings in the old <winsock.h>, which clashes with <winsock2.h> under MSVC,
// so the rooms without sockets must not be made to include it. Guarded on
// its own, so that a later inclusion after <winsock2.h> still defines it.
#if defined(_WINSOCK2API_) && !defined(VARNEX_COMMON_HANDLES_SOCKET)
#define VARNEX_COMMON_HANDLES_SOCKET

namespace varnex {

struct SocketTraits {
    using Type = SOCKET;
    static Type none() { return INVALID_SOCKET; }
    static bool holds(Type socket) { return socket != INVALID_SOCKET; }
    static void close(Type socket) { closesocket(socket); }
};

using UniqueSocket = UniqueOwner<SocketTraits>;

}  // namespace varnex

#endif
