# Shared by the cross toolchains; each sets VARNEX_TRIPLE, VARNEX_ARCH,
# VARNEX_PE_FORMAT and VARNEX_WINE_LOADER before including this file, and the
# test toolchains VARNEX_THREAD_MODEL too.
# The product (Varnex.dll and the tools) is built with the win32 thread model:
# the posix model's runtime (winpthreads) takes a TLS slot, an event and a
# thread handle at every load of the DLL and never gives them back, so a host
# that reloads the library would run out of TLS slots. GoogleTest and the
# tests need std::mutex and std::thread, which only the posix model has; they
# live in a tree of their own (see the top CMakeLists.txt).
if(NOT DEFINED VARNEX_THREAD_MODEL)
  set(VARNEX_THREAD_MODEL win32)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VARNEX_TRIPLE}-gcc-${VARNEX_THREAD_MODEL})
set(CMAKE_CXX_COMPILER ${VARNEX_TRIPLE}-g++-${VARNEX_THREAD_MODEL})
set(CMAKE_RC_COMPILER ${VARNEX_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VARNEX_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The runtime goes into every binary, so hosts never need a runtime installed.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(VARNEX_OBJDUMP ${VARNEX_TRIPLE}-objdump)
set(VARNEX_WINDRES ${VARNEX_TRIPLE}-windres)
# The Wine loader of this bitness is named directly: Debian's wine and
# wineserver scripts pick the 32-bit binaries whenever they exist, even on a
# kernel that cannot run them.
if(EXISTS /usr/lib/wine/wineserver64)
  set(VARNEX_WINESERVER /usr/lib/wine/wineserver64)
else()
  set(VARNEX_WINESERVER /usr/lib/wine/wineserver32)
endif()
