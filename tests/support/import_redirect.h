// Counting a module's calls into a system library (KERNEL32 unless named)
// by pointing its import address table entries at wrappers.
#ifndef VARNEX_TESTS_IMPORT_REDIRECT_H
#define VARNEX_TESTS_IMPORT_REDIRECT_H

#include <windows.h>

namespace varnex_test {

// Points `module`'s import of `function` from `library` at `wrapper`; the
// one it replaced goes to `real`. False when the module does not import it.
bool redirectImport(HMODULE module, const char *function, void *wrapper, void **real,
                    const char *library = "KERNEL32.dll");

}  // namespace varnex_test

#endif
