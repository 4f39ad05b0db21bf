#include "api/floating_point.h"

#if defined(_MSC_VER)
#include <xmmintrin.h>
#endif

namespace varnex {

namespace {

// SSE: every exception masked (bits 7-12), no flag, round to nearest, no
// flush-to-zero, no denormals-are-zero.
const unsigned int kLibrarySse = 0x1F80;
// x87: every exception masked (bits 0-5), double precision, round to
// nearest: the state Windows starts its threads in.
const unsigned short kLibraryX87 = 0x027F;

}  // namespace

// The runtime's fenv functions do not serve here: mingw's fesetenv leaves
// MXCSR as it is, and feholdexcept does not touch it. The instructions are
// few, so they are written out. (GCC will not inline the SSE intrinsics into
// 32-bit code built without SSE, hence the assembly there too.)
FloatingPointScope::FloatingPointScope() noexcept {
#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
    // FNSTENV masks every x87 exception once it has stored the state.
    __asm__ __volatile__("fnstenv %0\n\tfnclex\n\tfldcw %1" : "=m"(x87_) : "m"(kLibraryX87) : "memory");
    __asm__ __volatile__("stmxcsr %0\n\tldmxcsr %1" : "=m"(sse_) : "m"(kLibrarySse) : "memory");
#elif defined(_MSC_VER) && defined(_M_IX86)
    unsigned char *x87 = x87_;
    unsigned short control = kLibraryX87;
    __asm {
        mov eax, x87
        fnstenv [eax]
        fnclex
        fldcw control
    }
    sse_ = _mm_getcsr();
    _mm_setcsr(kLibrarySse);
#elif defined(_MSC_VER) && defined(_M_X64)
    sse_ = _mm_getcsr();
    _mm_setcsr(kLibrarySse);
#endif
}

FloatingPointScope::~FloatingPointScope() {
#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
    // Loading the saved state raises nothing by itself: an x87 flag whose
    // exception the host unmasked stays pending for the host's next x87
    // instruction, as it was before the call.
    __asm__ __volatile__("ldmxcsr %0\n\tfldenv %1" : : "m"(sse_), "m"(x87_) : "memory");
#elif defined(_MSC_VER) && defined(_M_IX86)
    _mm_setcsr(sse_);
    unsigned char *x87 = x87_;
    __asm {
        mov eax, x87
        fldenv [eax]
    }
#elif defined(_MSC_VER) && defined(_M_X64)
    _mm_setcsr(sse_);
#endif
}

}  // namespace varnex
