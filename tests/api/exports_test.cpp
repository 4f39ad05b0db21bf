// The exports called by ordinal-free name through their real calling
// convention: each must remove exactly its own argument bytes.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>

namespace {

#if defined(__i386__)
// Only 32-bit code shows a __stdcall mismatch: on x64 there is one calling convention.

// Pushes `count` 32-bit arguments, calls `fn` and returns how many bytes the
// callee removed from the stack, restoring the stack pointer either way.
uint32_t bytesRemovedByCallee(void *fn, const uint32_t *args, uint32_t count) {
    uint32_t before, after;
    uint32_t n = count;
    __asm__ volatile(
        "mov %%esp, %%esi\n\t"
        "1: test %%ecx, %%ecx\n\t"
        "jz 2f\n\t"
        "pushl -4(%%edi,%%ecx,4)\n\t"
        "dec %%ecx\n\t"
        "jmp 1b\n\t"
        "2: call *%%ebx\n\t"
        "mov %%esp, %%edx\n\t"
        "mov %%esi, %%esp\n\t"
        : "=S"(before), "=d"(after), "+c"(n), "+D"(args), "+b"(fn)
        :
        : "eax", "memory", "cc");
    return after - (before - count * 4);
}

TEST(Exports, EachRemovesItsArgumentBytes) {
    HMODULE dll = LoadLibraryA("Varnex.dll");
    ASSERT_NE(dll, nullptr);
    static const char text[] = "exports test";
    const double price = 1.5;
    uint32_t priceWords[2];
    memcpy(priceWords, &price, sizeof price);
    const uint32_t textWord = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(text));
    // A date long gone, so _process does nothing past its date gate.
    const uint32_t processArgs[7] = {1990, 1, 1, textWord, 1, priceWords[0], priceWords[1]};
    const uint32_t textArg[1] = {textWord};
    const uint32_t nullCallback[1] = {0};

    EXPECT_EQ(bytesRemovedByCallee(reinterpret_cast<void *>(GetProcAddress(dll, "_initial")), nullptr, 0),
              0u);
    EXPECT_EQ(bytesRemovedByCallee(reinterpret_cast<void *>(GetProcAddress(dll, "_writelog")), textArg, 1),
              4u);
    EXPECT_EQ(bytesRemovedByCallee(reinterpret_cast<void *>(GetProcAddress(dll, "_process")), processArgs, 7),
              28u);
    EXPECT_EQ(bytesRemovedByCallee(reinterpret_cast<void *>(GetProcAddress(dll, "_RegisterOrderFunc")),
                                   nullCallback, 1),
              4u);
}
#endif

// Hosts resolve the exports by their plain names, in both bitnesses; a
// decorated name would mean the .def file no longer maps them.
TEST(Exports, ResolveByPlainNamesOnly) {
    HMODULE dll = LoadLibraryA("Varnex.dll");
    ASSERT_NE(dll, nullptr);
    for (const char *name : {"_RegisterOrderFunc", "_initial", "_process", "_writelog"})
        EXPECT_NE(GetProcAddress(dll, name), nullptr) << name;
    for (const char *name : {"_process@28", "_RegisterOrderFunc@4", "process", "initial"})
        EXPECT_EQ(GetProcAddress(dll, name), nullptr) << name;
    const int ordinalOfProcess = 3;
    EXPECT_EQ(GetProcAddress(dll, MAKEINTRESOURCEA(ordinalOfProcess)), GetProcAddress(dll, "_process"));
}

}  // namespace
