#include "lifetime/detached_call.h"

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace varnex {

// The stub's data: written by this module, read by the stub. `state` is 0
// while no call is under way, 1 during one, 2 once detached.
struct StubSlots {
    void *target;
    void *exitThread;
    volatile LONG state;
};

namespace {

constexpr SIZE_T kPage = 4096;

// The stub's machine code, one emitter per instruction, named after its
// assembly, so that the stub below reads as a listing. A field relative to
// rip, or a jump's, is the last of its instruction, so the end of the field
// is the end of the instruction, where the processor counts from.
class Code {
public:
    size_t size() const { return code_.size(); }
    const std::vector<unsigned char> &data() const { return code_; }
    // Points the 32-bit field at `hole` (from jnzRel32) at `targetOffset`.
    void relative(size_t hole, uintptr_t targetOffset) {
        const auto rel = static_cast<uint32_t>(targetOffset - (hole + 4));
        std::memcpy(&code_[hole], &rel, 4);
    }

    // Either bitness.
    void xorEaxEax() { bytes({0x31, 0xC0}); }
    void xorEcxEcx() { bytes({0x31, 0xC9}); }
    void movEaxImm32(uint32_t value) {
        bytes({0xB8});
        u32(value);
    }
    // jnz to a place not yet known: returns the field to point there.
    size_t jnzRel32() {
        bytes({0x0F, 0x85});
        return hole();
    }
    void int3() { bytes({0xCC}); }

#if defined(_M_X64) || defined(__x86_64__)
    void pushRbp() { bytes({0x55}); }
    void popRbp() { bytes({0x5D}); }
    void movRbpRsp() { bytes({0x48, 0x89, 0xE5}); }
    void movRspRbp() { bytes({0x48, 0x89, 0xEC}); }
    void subRspImm8(int8_t value) { bytes({0x48, 0x83, 0xEC, imm8(value)}); }
    void andRspImm8(int8_t value) { bytes({0x48, 0x83, 0xE4, imm8(value)}); }
    void movR10dImm32(uint32_t value) {
        bytes({0x41, 0xBA});
        u32(value);
    }
    void xorR10dR10d() { bytes({0x45, 0x31, 0xD2}); }
    // mov r10, [rbp+disp]
    void movR10RbpDisp8(int8_t disp) { bytes({0x4C, 0x8B, 0x55, imm8(disp)}); }
    // mov [rsp+disp], r10
    void movRspDisp8R10(int8_t disp) { bytes({0x4C, 0x89, 0x54, 0x24, imm8(disp)}); }
    void movR11Rax() { bytes({0x49, 0x89, 0xC3}); }
    void movRaxR11() { bytes({0x4C, 0x89, 0xD8}); }
    void ret() { bytes({0xC3}); }
    // lock cmpxchg [rip+slot], r10d; `slotOffset` is from the stub's start.
    void lockCmpxchgRipRelativeR10d(uintptr_t slotOffset) {
        bytes({0xF0, 0x44, 0x0F, 0xB1, 0x15});
        relative(hole(), slotOffset);
    }
    // call [rip+slot]
    void callIndirectRipRelative(uintptr_t slotOffset) {
        bytes({0xFF, 0x15});
        relative(hole(), slotOffset);
    }
#else
    void pushEbp() { bytes({0x55}); }
    void popEbp() { bytes({0x5D}); }
    void movEbpEsp() { bytes({0x89, 0xE5}); }
    void movEspEbp() { bytes({0x89, 0xEC}); }
    void movEcxImm32(uint32_t value) {
        bytes({0xB9});
        u32(value);
    }
    void movEdxEax() { bytes({0x89, 0xC2}); }
    void movEaxEdx() { bytes({0x89, 0xD0}); }
    // push dword [ebp+disp]
    void pushEbpDisp8(int8_t disp) { bytes({0xFF, 0x75, imm8(disp)}); }
    void pushImm8(int8_t value) { bytes({0x6A, imm8(value)}); }
    // ret n: pops the caller's arguments too, as __stdcall does.
    void retImm16(uint16_t popped) {
        bytes({0xC2, static_cast<unsigned char>(popped), static_cast<unsigned char>(popped >> 8)});
    }
    // lock cmpxchg [slot], ecx
    void lockCmpxchgAbsoluteEcx(uint32_t slotAt) {
        bytes({0xF0, 0x0F, 0xB1, 0x0D});
        u32(slotAt);
    }
    // call [slot]
    void callIndirectAbsolute(uint32_t slotAt) {
        bytes({0xFF, 0x15});
        u32(slotAt);
    }
#endif

private:
    static unsigned char imm8(int8_t value) { return static_cast<unsigned char>(value); }
    void bytes(std::initializer_list<unsigned char> list) { code_.insert(code_.end(), list); }
    void u32(uint32_t value) {
        for (int i = 0; i < 4; ++i) code_.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
    // A 32-bit field to point later, relative to the end of the field.
    size_t hole() {
        const size_t at = code_.size();
        u32(0);
        return at;
    }

    std::vector<unsigned char> code_;
};

#if defined(_M_X64) || defined(__x86_64__)
// rcx, rdx, r8, r9 pass through; the fifth argument is copied; a frame on
// rbp restores rsp. Slots are reached relative to rip: the data page follows.
std::vector<unsigned char> stubCode(uintptr_t stubAt, uintptr_t slotsAt, size_t &prologSize) {
    const uintptr_t target = slotsAt + offsetof(StubSlots, target) - stubAt;
    const uintptr_t exitThread = slotsAt + offsetof(StubSlots, exitThread) - stubAt;
    const uintptr_t state = slotsAt + offsetof(StubSlots, state) - stubAt;
    Code c;
    c.pushRbp();
    c.movRbpRsp();
    prologSize = c.size();
    // No call under way (0) becomes one (1); else the stub was detached.
    c.xorEaxEax();
    c.movR10dImm32(1);
    c.lockCmpxchgRipRelativeR10d(state);
    const size_t gone1 = c.jnzRel32();
    // The callee's shadow space and its fifth argument, copied from the
    // caller's frame; rsp stays 16-byte aligned.
    c.subRspImm8(48);
    c.movR10RbpDisp8(48);
    c.movRspDisp8R10(32);
    c.callIndirectRipRelative(target);
    c.movR11Rax();  // the result, kept aside while the state changes
    // The call is over (1 becomes 0), unless it was detached meanwhile.
    c.movEaxImm32(1);
    c.xorR10dR10d();
    c.lockCmpxchgRipRelativeR10d(state);
    const size_t gone2 = c.jnzRel32();
    c.movRaxR11();
    c.movRspRbp();
    c.popRbp();
    c.ret();
    // Detached: the thread ends here, whatever its stack holds; ExitThread(0)
    // on an aligned stack with its shadow space.
    const size_t gone = c.size();
    c.relative(gone1, gone);
    c.relative(gone2, gone);
    c.andRspImm8(-16);
    c.subRspImm8(32);
    c.xorEcxEcx();
    c.callIndirectRipRelative(exitThread);
    c.int3();
    return c.data();
}
#else
// __stdcall with five arguments; a frame on ebp restores esp whatever the
// callee popped. Slots are reached at their absolute addresses.
std::vector<unsigned char> stubCode(uintptr_t, uintptr_t slotsAt, size_t &prologSize) {
    const auto target = static_cast<uint32_t>(slotsAt + offsetof(StubSlots, target));
    const auto exitThread = static_cast<uint32_t>(slotsAt + offsetof(StubSlots, exitThread));
    const auto state = static_cast<uint32_t>(slotsAt + offsetof(StubSlots, state));
    Code c;
    c.pushEbp();
    c.movEbpEsp();
    prologSize = c.size();
    // No call under way (0) becomes one (1); else the stub was detached.
    c.xorEaxEax();
    c.movEcxImm32(1);
    c.lockCmpxchgAbsoluteEcx(state);
    const size_t gone1 = c.jnzRel32();
    // The five arguments again, last first: [ebp+24] down to [ebp+8].
    for (int8_t disp = 0x18; disp >= 0x08; disp -= 4) c.pushEbpDisp8(disp);
    c.callIndirectAbsolute(target);
    // The call is over (1 becomes 0), unless it was detached meanwhile; the
    // result waits in edx.
    c.movEdxEax();
    c.movEaxImm32(1);
    c.xorEcxEcx();
    c.lockCmpxchgAbsoluteEcx(state);
    const size_t gone2 = c.jnzRel32();
    c.movEaxEdx();
    c.movEspEbp();
    c.popEbp();
    c.retImm16(20);
    // Detached: the thread ends here, ExitThread(0).
    const size_t gone = c.size();
    c.relative(gone1, gone);
    c.relative(gone2, gone);
    c.pushImm8(0);
    c.callIndirectAbsolute(exitThread);
    c.int3();
    return c.data();
}
#endif

}  // namespace

DetachableCall::DetachableCall() noexcept {
    // The code page is made executable and read-only; the data page after it stays writable.
    auto *pages = static_cast<unsigned char *>(
        VirtualAlloc(nullptr, 2 * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (!pages) return;
    auto *slots = reinterpret_cast<StubSlots *>(pages + kPage);
    slots->state = 0;
    slots->exitThread =
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "ExitThread"));
    size_t prologSize = 0;
    std::vector<unsigned char> code;
    try {
        code = stubCode(reinterpret_cast<uintptr_t>(pages), reinterpret_cast<uintptr_t>(slots), prologSize);
    } catch (...) {
    }
    DWORD old = 0;
    if (!slots->exitThread || code.empty() || code.size() > kPage / 2) {
        VirtualFree(pages, 0, MEM_RELEASE);
        return;
    }
    std::memcpy(pages, code.data(), code.size());
#if defined(_M_X64) || defined(__x86_64__)
    // Unwind data, so that an exception thrown by the host's function and
    // caught by this library's caller passes the stub's frame: the frame is
    // on rbp, set up by a two-instruction prolog.
    struct UnwindInfo {
        unsigned char versionAndFlags, prologSize, codeCount, frame;
        unsigned short codes[2];
    };
    auto *info = reinterpret_cast<UnwindInfo *>(pages + kPage / 2);
    info->versionAndFlags = 1;
    info->prologSize = static_cast<unsigned char>(prologSize);
    info->codeCount = 2;
    info->frame = 5;                                                         // rbp, offset 0
    info->codes[0] = static_cast<unsigned short>(prologSize | (3 << 8));     // UWOP_SET_FPREG
    info->codes[1] = static_cast<unsigned short>(1 | (0 << 8) | (5 << 12));  // UWOP_PUSH_NONVOL rbp
    auto *function = reinterpret_cast<RUNTIME_FUNCTION *>(pages + kPage / 2 + 64);
    function->BeginAddress = 0;
    function->EndAddress = static_cast<DWORD>(code.size());
    function->UnwindData = static_cast<DWORD>(kPage / 2);
    if (RtlAddFunctionTable(function, 1, reinterpret_cast<DWORD64>(pages))) functionTable_ = function;
#endif
    if (!VirtualProtect(pages, kPage, PAGE_EXECUTE_READ, &old)) {
#if defined(_M_X64) || defined(__x86_64__)
        if (functionTable_) RtlDeleteFunctionTable(static_cast<RUNTIME_FUNCTION *>(functionTable_));
#endif
        VirtualFree(pages, 0, MEM_RELEASE);
        functionTable_ = nullptr;
        return;
    }
    FlushInstructionCache(GetCurrentProcess(), pages, kPage);
    stub_ = pages;
    slots_ = slots;
}

DetachableCall::~DetachableCall() {
    if (!stub_ || detached_) return;
#if defined(_M_X64) || defined(__x86_64__)
    if (functionTable_) RtlDeleteFunctionTable(static_cast<RUNTIME_FUNCTION *>(functionTable_));
#endif
    VirtualFree(stub_, 0, MEM_RELEASE);
}

uintptr_t DetachableCall::call(Target target, uintptr_t a1, uintptr_t a2, uintptr_t a3, uintptr_t a4,
                               uintptr_t a5) {
    using Stub = uintptr_t(WINAPI *)(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t);
    slots_->target = target;
    try {
        return reinterpret_cast<Stub>(stub_)(a1, a2, a3, a4, a5);
    } catch (...) {
        // The function threw past the stub, which did not get to mark the
        // call over: the next call would take the stub for detached and end
        // its thread.
        InterlockedCompareExchange(&slots_->state, 0, 1);
        throw;
    }
}

void DetachableCall::callOrderFunction(OrderCallback function, const char *text) {
    if (!stub_) return function(text);
    call(reinterpret_cast<Target>(function), reinterpret_cast<uintptr_t>(text), 0, 0, 0, 0);
}

BOOL DetachableCall::writeFile(HANDLE file, const void *bytes, DWORD size, DWORD *written,
                               OVERLAPPED *overlapped) {
    if (!stub_) return WriteFile(file, bytes, size, written, overlapped);
    return static_cast<BOOL>(call(reinterpret_cast<Target>(&WriteFile), reinterpret_cast<uintptr_t>(file),
                                  reinterpret_cast<uintptr_t>(bytes), size,
                                  reinterpret_cast<uintptr_t>(written),
                                  reinterpret_cast<uintptr_t>(overlapped)));
}

bool DetachableCall::detach() noexcept {
    if (!stub_ || InterlockedCompareExchange(&slots_->state, 2, 1) != 1) return false;
    detached_ = true;
    return true;
}

}  // namespace varnex
