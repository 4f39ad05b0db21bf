#include "lifetime/detached_call.h"

#include <cstddef>
#include <cstring>
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

class Code {
public:
    void bytes(std::initializer_list<unsigned char> list) { code_.insert(code_.end(), list); }
    void u32(uint32_t value) {
        for (int i = 0; i < 4; ++i) code_.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
    size_t size() const { return code_.size(); }
    // A 32-bit field to patch later, relative to the end of the field.
    size_t hole() {
        const size_t at = code_.size();
        u32(0);
        return at;
    }
    void relative(size_t hole, uintptr_t targetOffset) {
        const auto rel = static_cast<uint32_t>(targetOffset - (hole + 4));
        std::memcpy(&code_[hole], &rel, 4);
    }
    const std::vector<unsigned char> &data() const { return code_; }

private:
    std::vector<unsigned char> code_;
};

#if defined(_M_X64) || defined(__x86_64__)
// rcx, rdx, r8, r9 pass through; the fifth argument is copied; a frame on
// rbp restores rsp. Slots are reached relative to rip: the data page follows.
// Each instruction a line, its bytes beside its assembly.
// clang-format off
std::vector<unsigned char> stubCode(uintptr_t stubAt, uintptr_t slotsAt, size_t &prologSize) {
    const uintptr_t target = slotsAt + offsetof(StubSlots, target) - stubAt;
    const uintptr_t exitThread = slotsAt + offsetof(StubSlots, exitThread) - stubAt;
    const uintptr_t state = slotsAt + offsetof(StubSlots, state) - stubAt;
    Code c;
    c.bytes({0x55, 0x48, 0x89, 0xE5});  // push rbp; mov rbp, rsp
    prologSize = c.size();
    c.bytes({0x31, 0xC0, 0x41, 0xBA, 1, 0, 0, 0});  // xor eax, eax; mov r10d, 1
    c.bytes({0xF0, 0x44, 0x0F, 0xB1, 0x15});        // lock cmpxchg [rip+state], r10d
    c.relative(c.hole(), state);
    c.bytes({0x0F, 0x85});  // jnz gone
    const size_t gone1 = c.hole();
    c.bytes({0x48, 0x83, 0xEC, 0x30});              // sub rsp, 48
    c.bytes({0x4C, 0x8B, 0x55, 0x30});              // mov r10, [rbp+48]: the fifth argument
    c.bytes({0x4C, 0x89, 0x54, 0x24, 0x20});        // mov [rsp+32], r10
    c.bytes({0xFF, 0x15});                          // call [rip+target]
    c.relative(c.hole(), target);
    c.bytes({0x49, 0x89, 0xC3});                    // mov r11, rax
    c.bytes({0xB8, 1, 0, 0, 0, 0x45, 0x31, 0xD2});  // mov eax, 1; xor r10d, r10d
    c.bytes({0xF0, 0x44, 0x0F, 0xB1, 0x15});        // lock cmpxchg [rip+state], r10d
    c.relative(c.hole(), state);
    c.bytes({0x0F, 0x85});  // jnz gone
    const size_t gone2 = c.hole();
    c.bytes({0x4C, 0x89, 0xD8, 0x48, 0x89, 0xEC, 0x5D, 0xC3});  // mov rax, r11; mov rsp, rbp; pop rbp; ret
    const size_t gone = c.size();
    c.relative(gone1, gone);
    c.relative(gone2, gone);
    c.bytes({0x48, 0x83, 0xE4, 0xF0, 0x48, 0x83, 0xEC, 0x20, 0x31, 0xC9});  // and rsp, -16; sub rsp, 32; xor ecx, ecx
    c.bytes({0xFF, 0x15});                                                  // call [rip+exitThread]
    c.relative(c.hole(), exitThread);
    c.bytes({0xCC});
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
    c.bytes({0x55, 0x89, 0xE5});  // push ebp; mov ebp, esp
    prologSize = c.size();
    c.bytes({0x31, 0xC0, 0xB9, 1, 0, 0, 0});  // xor eax, eax; mov ecx, 1
    c.bytes({0xF0, 0x0F, 0xB1, 0x0D});        // lock cmpxchg [state], ecx
    c.u32(state);
    c.bytes({0x0F, 0x85});  // jnz gone
    const size_t gone1 = c.hole();
    c.bytes({0xFF, 0x75, 0x18, 0xFF, 0x75, 0x14, 0xFF, 0x75, 0x10, 0xFF, 0x75, 0x0C, 0xFF, 0x75, 0x08});
    c.bytes({0xFF, 0x15});  // call [target]
    c.u32(target);
    c.bytes({0x89, 0xC2, 0xB8, 1, 0, 0, 0, 0x31, 0xC9});  // mov edx, eax; mov eax, 1; xor ecx, ecx
    c.bytes({0xF0, 0x0F, 0xB1, 0x0D});                    // lock cmpxchg [state], ecx
    c.u32(state);
    c.bytes({0x0F, 0x85});  // jnz gone
    const size_t gone2 = c.hole();
    c.bytes({0x89, 0xD0, 0x89, 0xEC, 0x5D, 0xC2, 0x14, 0x00});  // mov eax, edx; mov esp, ebp; pop ebp; ret 20
    const size_t gone = c.size();
    c.relative(gone1, gone);
    c.relative(gone2, gone);
    c.bytes({0x6A, 0x00, 0xFF, 0x15});  // push 0; call [exitThread]
    c.u32(exitThread);
    c.bytes({0xCC});
    return c.data();
}
// clang-format on
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
