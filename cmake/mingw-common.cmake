# Shared by both cross toolchains; each sets VARNEX_TRIPLE, VARNEX_ARCH,
# VARNEX_PE_FORMAT and VARNEX_WINE_LOADER before including this file.
# The -posix compilers are needed because GoogleTest uses std::mutex, which the
# win32 thread model lacks.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VARNEX_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VARNEX_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VARNEX_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VARNEX_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The runtime goes into every binary, so hosts never need a runtime installed.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(VARNEX_OBJDUMP ${VARNEX_TRIPLE}-objdump)
# The Wine loader of this bitness is named directly: Debian's wine and
# wineserver scripts pick the 32-bit binaries whenever they exist, even on a
# kernel that cannot run them.
if(EXISTS /usr/lib/wine/wineserver64)
  set(VARNEX_WINESERVER /usr/lib/wine/wineserver64)
else()
  set(VARNEX_WINESERVER /usr/lib/wine/wineserver32)
endif()
