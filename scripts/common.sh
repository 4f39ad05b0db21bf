# Shared by the build, test and demo scripts: paths, Wine environment, build.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${VARNEX_BUILD_DIR:-$ROOT/build}
export WINEPREFIX=$BUILD/wine
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export LANG=C.UTF-8 LC_ALL=C.UTF-8

varnex_build() {
  bash "$ROOT/scripts/setup.sh"
  if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" >"$BUILD.configure.log" 2>&1 ||
      { cat "$BUILD.configure.log"; return 1; }
  fi
  cmake --build "$BUILD" -- -j"$(nproc)" >"$BUILD.build.log" 2>&1 || { tail -n 60 "$BUILD.build.log"; return 1; }
}

# One prefix per build tree and one wineserver for the whole run; its stdio
# is detached so nothing that reads our output waits on it.
wine_up() {
  mkdir -p "$WINEPREFIX"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i </dev/null >/dev/null 2>&1 || true
  fi
  wineserver -p 600 </dev/null >/dev/null 2>&1 &
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

wine_down() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
}
