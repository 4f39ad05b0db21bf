#!/usr/bin/env bash
# Installs both cross toolchains (each in the win32 thread model for the
# product and the posix one for the tests), both Wines and the GoogleTest sources on a
# Debian machine; with --bench, gnuplot too (for the benchmark report's plot).
# Idempotent: does nothing (and prints nothing) when everything is present.
# wine32 installs even where the kernel cannot run it; the scripts find out by
# trying which bitness runs.
set -euo pipefail
need=()
command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1 || need+=(g++-mingw-w64-i686)
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || need+=(g++-mingw-w64-x86-64)
command -v i686-w64-mingw32-g++-win32 >/dev/null 2>&1 || need+=(g++-mingw-w64-i686-win32)
command -v x86_64-w64-mingw32-g++-win32 >/dev/null 2>&1 || need+=(g++-mingw-w64-x86-64-win32)
command -v i686-w64-mingw32-objdump >/dev/null 2>&1 || need+=(binutils-mingw-w64-i686)
command -v x86_64-w64-mingw32-objdump >/dev/null 2>&1 || need+=(binutils-mingw-w64-x86-64)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
[ -e /usr/lib/wine/wine ] || need+=(wine32:i386)
dpkg -s wine >/dev/null 2>&1 || need+=(wine)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v ninja >/dev/null 2>&1 || need+=(ninja-build)
# The native fuzz targets (scripts/fuzz.sh): clang 14 with libFuzzer and the sanitizer runtimes.
command -v clang++-14 >/dev/null 2>&1 || need+=(clang-14)
compgen -G '/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null || need+=(libclang-rt-14-dev)
if [ "${1:-}" = --bench ]; then command -v gnuplot >/dev/null 2>&1 || need+=(gnuplot-nox); fi
[ ${#need[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing ${need[*]}; run as root to install" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
# A mirror that is mid-sync fails some index files while every package
# needed may still be installable: retry the update a few times, say what
# failed, and let only the install decide.
for try in 1 2 3; do
  if apt-get update -qq >/tmp/varnex-apt-update.log 2>&1; then break; fi
  if [ "$try" -eq 3 ]; then
    echo "setup: apt-get update still reports errors after $try tries; installing from the indexes it has:" >&2
    grep -E '^(E|W):' /tmp/varnex-apt-update.log | head -5 >&2 || true
  else
    sleep $((try * 5))
  fi
done
apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
