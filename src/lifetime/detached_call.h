// A call into code that may not come back for a long time (the host's order
// function, a write to a console nobody drains), made through a few bytes of
// code outside this module. If the library is unloaded while such a call
// runs, the call is detached: when it returns, its thread ends right there,
// in those bytes, and never comes back into a module that is gone. So an
// unload never has to keep the module mapped for a caller stuck in the host,
// and the next load is a fresh library. What a detached call leaves behind
// is its thread (until the call returns) and the two pages of the stub.
#ifndef VARNEX_LIFETIME_DETACHED_CALL_H
#define VARNEX_LIFETIME_DETACHED_CALL_H

#include <windows.h>

#include <cstdint>

#include "varnex.h"

namespace varnex {

struct StubSlots;

class DetachableCall {
public:
    // A __stdcall function of up to five pointer-sized arguments; the stub
    // passes five, and restores its stack whatever the callee takes.
    using Target = void *;

    DetachableCall() noexcept;
    ~DetachableCall();
    DetachableCall(const DetachableCall &) = delete;
    DetachableCall &operator=(const DetachableCall &) = delete;

    // The stub could be made; without it, calls go to their target directly
    // and cannot be detached.
    bool ready() const { return stub_ != nullptr; }
    // Calls the host's order function on this thread; one thread at a time
    // per object. A call that was detached does not return: its thread ends.
    void callOrderFunction(OrderCallback function, const char *text);
    // The same for a WriteFile.
    BOOL writeFile(HANDLE file, const void *bytes, DWORD size, DWORD *written, OVERLAPPED *overlapped);
    // The same for any function of the kind Target describes; only when
    // ready() (called directly, a __stdcall function of fewer arguments would
    // leave the stack unbalanced).
    uintptr_t call(Target target, uintptr_t a1, uintptr_t a2 = 0, uintptr_t a3 = 0, uintptr_t a4 = 0,
                   uintptr_t a5 = 0);
    // From another thread: if a call is under way, it is detached (true), and
    // the stub's memory is left to it. False when no call is under way.
    bool detach() noexcept;

private:
    unsigned char *stub_ = nullptr;
    struct StubSlots *slots_ = nullptr;
    void *functionTable_ = nullptr;
    bool detached_ = false;
};

}  // namespace varnex

#endif
