// The four exports. Each fetches the dispatcher and forwards; the dispatcher's
// entry operations never let an exception out, so nothing C++ crosses into
// the host, and the call it holds puts the host's floating-point state back
// as it returns.
#define VARNEX_BUILD
#include "api/signal_dispatcher.h"
#include "varnex.h"

using varnex::getDispatcher;
using varnex::leaveAtProcessExit;
using varnex::releaseDispatcher;

// The unload's whole story is in library_lifetime.cpp.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH) reserved == nullptr ? releaseDispatcher() : leaveAtProcessExit();
    return TRUE;
}

extern "C" void VARNEX_CALL _RegisterOrderFunc(OrderCallback callback) {
    if (const auto dispatcher = getDispatcher()) dispatcher->registerOrderFunc(callback);
}

extern "C" void VARNEX_CALL _initial(void) {
    if (const auto dispatcher = getDispatcher()) dispatcher->initial();
}

extern "C" void VARNEX_CALL _process(int year, int month, int day, const char *symbol, int quantity,
                                     double price) {
    if (const auto dispatcher = getDispatcher())
        dispatcher->process(year, month, day, symbol, quantity, price);
}

extern "C" void VARNEX_CALL _writelog(const char *text) {
    if (const auto dispatcher = getDispatcher()) dispatcher->writeLog(text);
}
