#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo: a host loads
# Varnex.dll under Wine with a sample Varnex.ini and the files it wrote are shown.
set -euo pipefail
source "$(dirname "$0")/common.sh"
varnex_build
arch=$(pick_arch)
wine_env "$arch"
echo "== using the $(arch_bits "$arch")-bit Varnex.dll ($BUILD/bin/Varnex.dll) under $WINELOADER"
arch_runs x86 || echo "   (32-bit skipped: $ARCH_WHY)"
wine_up
trap wine_down EXIT
DEMO=$BUILD/demo
rm -rf "$DEMO" && mkdir -p "$DEMO"
WINDEMO="Z:$(echo "$DEMO" | tr / '\\')\\"
INI=$WINEPREFIX/drive_c/windows/Varnex.ini
printf '[Setting]\r\ndriverName=%s\r\nlogMode=True\r\nsignalDebugMode=True\r\n' "$WINDEMO" >"$INI"
printf '%s\n' 'writelog|demo host started' 'process|today|ABC|1|12.5' 'process|today|ABC|1|12.75' \
  'process|today|ABC|-2|1234567' 'process|yesterday|ABC|5|1' >"$DEMO/script.txt"
echo "== Varnex.ini"; cat "$INI"; echo
echo "== host output"
vwine "$BUILD/bin/test_host.exe" "$WINDEMO""script.txt"
rm -f "$INI"
for f in "$DEMO"/*.txt; do
  [ "$(basename "$f")" = script.txt ] && continue
  echo "== $(basename "$f")"; cat "$f"
done
