#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine.
set -euo pipefail
source "$(dirname "$0")/common.sh"
varnex_build
wine_up
trap wine_down EXIT
cd "$BUILD"
ctest --output-on-failure "$@"
