// The floating-point state of a host thread, kept apart from the library's.
// Hosts built with some compilers run with the invalid-operation, zero-divide
// and overflow exceptions unmasked, and some set flush-to-zero, another
// rounding mode or a shorter x87 precision. Inside the library every
// exception is masked, so no price a host hands over (a signalling NaN, a
// denormal) raises in its process, and the arithmetic does not depend on the
// host's modes; on the way out the host gets its control words and its
// exception flags back exactly as they were, flags raised inside dropped.
#ifndef VARNEX_API_FLOATING_POINT_H
#define VARNEX_API_FLOATING_POINT_H

namespace varnex {

class FloatingPointScope {
public:
    // Saves the calling thread's state and installs the library's: every
    // exception masked, no flag set, rounding to nearest, double precision
    // on the x87, neither flush-to-zero nor denormals-are-zero on SSE.
    FloatingPointScope() noexcept;
    // Puts the saved state back.
    ~FloatingPointScope();
    FloatingPointScope(const FloatingPointScope &) = delete;
    FloatingPointScope &operator=(const FloatingPointScope &) = delete;

private:
    unsigned int sse_;
    // The x87 environment as FNSTENV stores it (control, status and tag
    // words among 28 bytes). 32-bit code does its double arithmetic there;
    // 64-bit mingw code may use it for long double. MSVC's 64-bit code never
    // does, and cannot reach it either.
    alignas(4) unsigned char x87_[28];
};

}  // namespace varnex

#endif
