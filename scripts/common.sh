# Shared by the build, test, demo and benchmark scripts: paths, the Wine
# environment of each bitness, the build.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_ROOT=${VARNEX_BUILD_DIR:-$ROOT/build}
ARCHES="x86 x64"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export LANG=C.UTF-8 LC_ALL=C.UTF-8

arch_toolchain() { case $1 in x86) echo "$ROOT/cmake/mingw-i686${2:-}.cmake" ;; x64) echo "$ROOT/cmake/mingw-x86_64${2:-}.cmake" ;; esac; }
arch_loader() { case $1 in x86) echo /usr/lib/wine/wine ;; x64) echo /usr/lib/wine/wine64 ;; esac; }
arch_bits() { case $1 in x86) echo 32 ;; x64) echo 64 ;; esac; }

# Whether this machine can execute the Wine loader of a bitness, found out by
# trying it: some kernels refuse 32-bit programs outright. On failure the
# reason is left in ARCH_WHY.
ARCH_WHY=
arch_runs() {
  local loader out
  loader=$(arch_loader "$1")
  if [ ! -e "$loader" ]; then ARCH_WHY="$loader is not installed"; return 1; fi
  if out=$("$loader" --version 2>&1); then return 0; fi
  ARCH_WHY="$loader: $(echo "$out" | tail -n 1 | sed 's/^.*: \(cannot execute\)/\1/')"
  return 1
}

# Whether the kernel runs 32-bit programs at all, whatever is installed: a
# 93-byte static i386 program that only exits 0 is run. A kernel without
# 32-bit support refuses it ("Exec format error"); nothing 32-bit need be
# installed to find out, so the set-up can ask before it installs.
machine_runs_32bit() {
  local probe rc=1
  probe=$(mktemp "${TMPDIR:-/tmp}/varnex-i386-probe.XXXXXX") || return 1
  # ELF header, one loadable segment at 0x08048000, then: mov eax,1; xor ebx,ebx; int 0x80.
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\061\333\315\200' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null && rc=0
  rm -f "$probe"
  return $rc
}

runnable_arches() {
  local arch list=
  for arch in $ARCHES; do arch_runs "$arch" && list="$list $arch"; done
  echo $list
}

# Both bitnesses are always built (a release ships both DLLs), each as two
# trees: the product (build/<arch>: Varnex.dll and the tools, win32 thread
# model) and its tests (build/<arch>/tests: GoogleTest, tests, benchmarks,
# posix thread model, writing into the product's bin/). ninja makes a second
# run rebuild nothing.
# A tree configured with another compiler (an older layout) is configured
# afresh; its Wine prefix stays.
configure_tree() {
  local tree=$1 toolchain=$2 model=$3
  shift 3
  if [ -f "$tree/CMakeCache.txt" ] && ! grep -qx "VARNEX_TREE_MODEL:INTERNAL=$model" "$tree/CMakeCache.txt"; then
    rm -rf "$tree/CMakeCache.txt" "$tree/CMakeFiles" "$tree/build.ninja"
  fi
  mkdir -p "$tree"
  if [ ! -f "$tree/build.ninja" ]; then
    cmake -S "$ROOT" -B "$tree" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" "$@" \
      >"$tree.configure.log" 2>&1 || { cat "$tree.configure.log"; return 1; }
  fi
  cmake --build "$tree" -- -j"$(nproc)" >"$tree.build.log" 2>&1 || { tail -n 60 "$tree.build.log"; return 1; }
}

varnex_build() {
  bash "$ROOT/scripts/setup.sh"
  local arch tree
  for arch in $ARCHES; do
    tree=$BUILD_ROOT/$arch
    configure_tree "$tree" "$(arch_toolchain "$arch")" win32 || return 1
  done
  for arch in $ARCHES; do
    tree=$BUILD_ROOT/$arch
    configure_tree "$tree/tests" "$(arch_toolchain "$arch" -tests)" posix -DVARNEX_PRODUCT_TREE="$tree" || return 1
  done
}

# Points the Wine variables at one bitness's tree: its own prefix, its own
# loader, and the 64-bit wineserver where there is one (it serves both).
wine_env() {
  local arch=$1
  BUILD=$BUILD_ROOT/$arch
  export WINEPREFIX=$BUILD/wine
  export WINELOADER=$(arch_loader "$arch")
  if [ -x /usr/lib/wine/wineserver64 ]; then export WINESERVER=/usr/lib/wine/wineserver64; else export WINESERVER=/usr/lib/wine/wineserver32; fi
  if [ "$arch" = x86 ]; then export WINEARCH=win32; else export WINEARCH=win64; fi
}

vwine() { "$WINELOADER" "$@"; }

# The bitness a single-run job (demo, benchmarks) uses: 32-bit where it runs,
# as most hosts still are, otherwise 64-bit. Fails with the reasons when
# neither runs.
pick_arch() {
  local arch why=
  for arch in x86 x64; do
    if arch_runs "$arch"; then echo "$arch"; return 0; fi
    why="$why $ARCH_WHY;"
  done
  echo "no Wine can run here:$why install wine64 (and wine32:i386 where 32-bit programs run)" >&2
  return 1
}

# One prefix per build tree and one wineserver for the whole run; its stdio
# is detached so nothing that reads our output waits on it. The prefix's
# services are started here too, for the same reason.
wine_up() {
  mkdir -p "$WINEPREFIX"
  if [ ! -d "$WINEPREFIX/drive_c/windows" ]; then
    vwine wineboot -i </dev/null >/dev/null 2>&1 || true
    "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
  fi
  if [ ! -d "$WINEPREFIX/drive_c/windows" ]; then
    echo "Wine could not create the prefix $WINEPREFIX with $WINELOADER" >&2
    return 1
  fi
  "$WINESERVER" -p 600 </dev/null >/dev/null 2>&1 &
  vwine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

wine_down() {
  [ -n "${WINESERVER:-}" ] && "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
}
