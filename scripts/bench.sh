#!/usr/bin/env bash
# Installs what is missing, builds, and runs every benchmark under Wine.
set -euo pipefail
source "$(dirname "$0")/common.sh"
varnex_build
wine_up
trap wine_down EXIT
for bench in "$BUILD"/bin/*_bench.exe; do
  wine "$bench" </dev/null
done
