# 32-bit Windows (PE32) through mingw-w64, run under the 32-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VARNEX_TRIPLE i686-w64-mingw32)
set(VARNEX_ARCH x86)
set(VARNEX_PE_FORMAT pei-i386)
set(VARNEX_WINE_LOADER /usr/lib/wine/wine)
set(VARNEX_WINEARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
