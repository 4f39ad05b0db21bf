# 64-bit Windows (PE32+) through mingw-w64, run under the 64-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VARNEX_TRIPLE x86_64-w64-mingw32)
set(VARNEX_ARCH x64)
set(VARNEX_PE_FORMAT pei-x86-64)
set(VARNEX_WINE_LOADER /usr/lib/wine/wine64)
set(VARNEX_WINEARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
