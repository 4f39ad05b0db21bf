#!/usr/bin/env bash
# Installs both cross toolchains (each in the win32 thread model for the
# product and the posix one for the tests), the Wine of each bitness this
# machine can run and the GoogleTest sources on a Debian machine; with
# --bench, gnuplot too (for the benchmark report's plot).
# Idempotent: does nothing (and prints nothing) when everything is present.
# The 32-bit Wine is installed only where the kernel runs 32-bit programs, and
# there it must install: most hosts load the 32-bit DLL, so its suite must run.
set -euo pipefail
source "$(dirname "$0")/common.sh"
need=()
command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1 || need+=(g++-mingw-w64-i686)
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || need+=(g++-mingw-w64-x86-64)
command -v i686-w64-mingw32-g++-win32 >/dev/null 2>&1 || need+=(g++-mingw-w64-i686-win32)
command -v x86_64-w64-mingw32-g++-win32 >/dev/null 2>&1 || need+=(g++-mingw-w64-x86-64-win32)
command -v i686-w64-mingw32-objdump >/dev/null 2>&1 || need+=(binutils-mingw-w64-i686)
command -v x86_64-w64-mingw32-objdump >/dev/null 2>&1 || need+=(binutils-mingw-w64-x86-64)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
if [ ! -e /usr/lib/wine/wine ]; then
  if machine_runs_32bit; then
    need+=(wine32:i386)
  else
    echo "setup: left out wine32:i386 (the 32-bit Wine): this machine's kernel cannot run 32-bit programs; the 32-bit DLL is built and checked, its Wine suite is skipped" >&2
  fi
fi
dpkg -s wine >/dev/null 2>&1 || need+=(wine)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v ninja >/dev/null 2>&1 || need+=(ninja-build)
# The native fuzz targets (scripts/fuzz.sh): clang 14 with libFuzzer and the sanitizer runtimes.
command -v clang++-14 >/dev/null 2>&1 || need+=(clang-14)
# The formatting check of the test command.
command -v clang-format-14 >/dev/null 2>&1 || need+=(clang-format-14)
compgen -G '/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null || need+=(libclang-rt-14-dev)
if [ "${1:-}" = --bench ]; then command -v gnuplot >/dev/null 2>&1 || need+=(gnuplot-nox); fi
[ ${#need[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing ${need[*]}; run as root to install" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
wants_i386=false
case " ${need[*]} " in *:i386*) wants_i386=true ;; esac
if $wants_i386; then dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386; fi
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
apt_install() { apt-get install -y -qq --no-install-recommends "$@" "${need[@]}" >/tmp/varnex-apt-install.log 2>&1; }
apt_install && exit 0
# A 32-bit library must have the very version of its 64-bit twin. When the
# security suite's 32-bit index failed to download while its 64-bit one did,
# the newest 64-bit version has no 32-bit match; the release's own versions
# (found in both indexes) are then taken for this install.
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
if $wants_i386 && [ -n "$release" ] && grep -q 'binary-i386' /tmp/varnex-apt-update.log 2>/dev/null; then
  echo "setup: a 32-bit package index failed to download; installing the $release release's own versions" >&2
  apt_install -t "$release" && exit 0
fi
if $wants_i386; then
  echo "setup: this machine runs 32-bit programs, but the 32-bit Wine (wine32:i386) and the rest of: ${need[*]} could not be installed:" >&2
else
  echo "setup: could not install ${need[*]}:" >&2
fi
grep -E '^(E|W):' /tmp/varnex-apt-install.log | head -5 >&2 || tail -n 5 /tmp/varnex-apt-install.log >&2
exit 1
