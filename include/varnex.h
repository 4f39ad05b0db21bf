/* Varnex.dll host interface.
 *
 * A host loads Varnex.dll and calls the four exports by name (for example
 * GetProcAddress(module, "_process")). Every export uses __stdcall, returns
 * nothing, and may be the first call: the first call of any export reads
 * Varnex.ini from the Windows directory. Texts are NUL-terminated ANSI. */
#ifndef VARNEX_H
#define VARNEX_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define VARNEX_CALL __stdcall
#elif defined(_WIN32)
#define VARNEX_CALL
#else
#define VARNEX_CALL
#endif

#ifdef VARNEX_BUILD
#define VARNEX_API
#else
#define VARNEX_API __declspec(dllimport)
#endif

/* Receives each order text that reaches this process's registered order
 * channel, on a thread of the library. The text is valid during the call. */
typedef void(VARNEX_CALL *OrderCallback)(const char *message);

/* Function pointer types for hosts that resolve the exports at run time. */
typedef void(VARNEX_CALL *VarnexRegisterOrderFuncFn)(OrderCallback callback);
typedef void(VARNEX_CALL *VarnexInitialFn)(void);
typedef void(VARNEX_CALL *VarnexProcessFn)(int year, int month, int day, const char *symbol,
                                           int quantity, double price);
typedef void(VARNEX_CALL *VarnexWritelogFn)(const char *text);

VARNEX_API void VARNEX_CALL _RegisterOrderFunc(OrderCallback callback);
VARNEX_API void VARNEX_CALL _initial(void);
VARNEX_API void VARNEX_CALL _process(int year, int month, int day, const char *symbol,
                                     int quantity, double price);
VARNEX_API void VARNEX_CALL _writelog(const char *text);

#ifdef __cplusplus
}
#endif

#endif
