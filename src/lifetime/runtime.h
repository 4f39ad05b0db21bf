// What the C++ runtime linked into this library keeps per loaded copy and
// gives back only when asked.
#ifndef VARNEX_LIFETIME_RUNTIME_H
#define VARNEX_LIFETIME_RUNTIME_H

#if defined(__GLIBCXX__)
namespace __gnu_cxx {
// libstdc++'s own release of its emergency exception pool.
void __freeres();
}  // namespace __gnu_cxx
#endif

namespace varnex {

// At unload: GNU libstdc++ allocates an emergency exception pool (16 KiB in
// 32-bit, 72 KiB in 64-bit) when the library loads and never frees it, so
// every reload would leave one behind in the host's heap. Other runtimes
// keep nothing of the kind.
inline void releaseRuntimeAtUnload() noexcept {
#if defined(__GLIBCXX__)
    __gnu_cxx::__freeres();
#endif
}

}  // namespace varnex

#endif
