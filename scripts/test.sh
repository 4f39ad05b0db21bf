#!/usr/bin/env bash
# Installs what is missing, builds both bitnesses, and runs every test under
# the Wine of each bitness this machine can execute; on a machine that runs
# 32-bit programs the 32-bit suite must run. The file checks (exports,
# imports, version resources) run for both bitnesses everywhere, and the native fuzz targets replay their
# seed corpora. Every C and C++ source (product, tools, tests, fuzz targets,
# benchmarks) must match .clang-format.
# Arguments go to every ctest run.
set -euo pipefail
source "$(dirname "$0")/common.sh"
varnex_build
# Every source keeps the committed .clang-format, checked with
# one pinned formatter (Debian's clang-format-14) so every machine agrees.
unformatted=()
while IFS= read -r file; do
  clang-format-14 --dry-run --Werror "$ROOT/$file" >/dev/null 2>&1 || unformatted+=("$file")
done < <(cd "$ROOT" && git ls-files src tools tests fuzz bench | grep -E '\.(c|cpp|h)$')
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "FAILED: these files differ from .clang-format (run clang-format-14 -i on them): ${unformatted[*]}" >&2
  exit 1
fi
ran=0
failed=0
skipped=()
for arch in $ARCHES; do
  tests=$BUILD_ROOT/$arch/tests
  if ! arch_runs "$arch"; then
    # A machine whose kernel runs 32-bit programs must run the 32-bit suite:
    # most hosts load the 32-bit DLL, so a Wine that fails there is a failure.
    if [ "$arch" = x86 ] && machine_runs_32bit; then
      echo "== $arch: FAILED: this machine runs 32-bit programs, but the 32-bit Wine does not ($ARCH_WHY)" >&2
      failed=1
      continue
    fi
    echo "== $arch: SKIPPED the $(arch_bits "$arch")-bit Wine suite: this machine cannot run $(arch_bits "$arch")-bit programs ($ARCH_WHY); running only its file checks"
    skipped+=("$arch")
    (cd "$tests" && ctest --output-on-failure --no-tests=error -L static) || failed=1
    continue
  fi
  echo "== $arch: $(arch_bits "$arch")-bit suite under $(arch_loader "$arch")"
  wine_env "$arch"
  wine_up
  rm -f "$BUILD/bin/proof_figures.txt"
  (cd "$tests" && ctest --output-on-failure --no-tests=error "$@") || failed=1
  if [ -f "$BUILD/bin/proof_figures.txt" ]; then echo "== $arch:"; cat "$BUILD/bin/proof_figures.txt"; fi
  wine_down
  ran=$((ran + 1))
done
# The native fuzz targets replay their committed seed inputs (seconds); a run
# narrowed by ctest arguments leaves them out.
if [ $# -eq 0 ]; then
  bash "$ROOT/scripts/fuzz.sh" || failed=1
else
  echo "note: fuzz corpus replay skipped (ctest arguments given); bash scripts/fuzz.sh runs it"
fi
if [ "$ran" -eq 0 ]; then
  echo "FAILED: no Wine suite could run: this machine executes neither /usr/lib/wine/wine nor /usr/lib/wine/wine64 (install wine64, and wine32:i386 where 32-bit programs run)" >&2
  exit 1
fi
[ ${#skipped[@]} -gt 0 ] && echo "note: skipped the Wine suite of: ${skipped[*]} (see above)"
exit $failed
