#!/usr/bin/env bash
# Builds both bitnesses and makes one release archive per architecture:
# build/x86/Varnex-<version>-x86.zip and build/x64/Varnex-<version>-x64.zip.
set -euo pipefail
source "$(dirname "$0")/common.sh"
varnex_build
for arch in $ARCHES; do
  tree=$BUILD_ROOT/$arch
  (cd "$tree" && cpack -G ZIP >"$tree.package.log" 2>&1) || { cat "$tree.package.log"; exit 1; }
  zip=$(ls "$tree"/Varnex-*-"$arch".zip)
  echo "== $zip"
  python3 -c 'import sys, zipfile; [print("   ", n) for n in zipfile.ZipFile(sys.argv[1]).namelist()]' "$zip" 2>/dev/null || true
done
