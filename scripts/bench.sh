#!/usr/bin/env bash
# Installs what is missing, builds, and runs every benchmark under Wine for
# each bitness this machine can execute, saying which.
set -euo pipefail
source "$(dirname "$0")/common.sh"
varnex_build
ran=0
trap wine_down EXIT
for arch in $ARCHES; do
  if ! arch_runs "$arch"; then
    echo "== $arch: skipped, this machine cannot run $(arch_bits "$arch")-bit programs ($ARCH_WHY)"
    continue
  fi
  echo "== $arch: $(arch_bits "$arch")-bit benchmarks"
  wine_env "$arch"
  wine_up
  for bench in "$BUILD"/bin/*_bench.exe; do
    vwine "$bench" </dev/null
  done
  wine_down
  ran=$((ran + 1))
done
[ "$ran" -gt 0 ] || { pick_arch >/dev/null; exit 1; }
