/* varnex.h as a C host includes it: each function pointer type must match
 * the declaration of its export. */
#include "varnex.h"

void varnexHeaderCheck(void) {
    VarnexRegisterOrderFuncFn registerOrderFunc = _RegisterOrderFunc;
    VarnexInitialFn initial = _initial;
    VarnexProcessFn process = _process;
    VarnexWritelogFn writelog = _writelog;
    (void)registerOrderFunc;
    (void)initial;
    (void)process;
    (void)writelog;
}
