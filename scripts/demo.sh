#!/usr/bin/env bash
# The main job: builds everything, then shows the whole road under Wine with
# the console tools: two order servers (one never answers), an order receiver,
# the doctor on the demo configuration, a replayed trading day, and what
# arrived where. Everything it starts is stopped again, also on failure.
set -euo pipefail
source "$(dirname "$0")/common.sh"
varnex_build
arch=$(pick_arch)
wine_env "$arch"
BIN=$BUILD/bin
echo "== using the $(arch_bits "$arch")-bit build ($BIN: Varnex.dll and the varnex-* tools) under $WINELOADER"
arch_runs x86 || echo "   (32-bit skipped: $ARCH_WHY)"
DEMO=$BUILD/demo
INI=$WINEPREFIX/drive_c/windows/Varnex.ini
pids=()
# Whatever the demo started and is still running is ended outright: a Wine
# process still starting up ignores a polite signal.
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  rm -f "$INI"
  wine_down
}
trap cleanup EXIT
wine_up
rm -rf "$DEMO" && mkdir -p "$DEMO/out"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
say() { printf '\n== %s\n' "$*"; }

# start NAME TOOL ARGS...: a tool in the background, its output in $DEMO/NAME.txt
start() {
  local name=$1 tool=$2
  shift 2
  vwine "$BIN/$tool" "$@" </dev/null >"$DEMO/$name.txt" 2>&1 &
  pids+=($!)
}
wait_for() {
  local i
  for i in $(seq 1 300); do
    grep -q "$2" "$DEMO/$1.txt" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "demo: no '$2' from $1 within 30 s:" >&2
  cat "$DEMO/$1.txt" >&2
  return 1
}
port_of() { sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$DEMO/$1.txt" | head -n 1; }

# Each server takes a free loopback port of its own and prints it.
start ack varnex-ack.exe --port 0 --count 4
start silent varnex-ack.exe --port 0 --silent --count 1
wait_for ack "listening on"
wait_for silent "listening on"
ACK_PORT=$(port_of ack)
SILENT_PORT=$(port_of silent)

OUT=$(winpath "$DEMO/out")\\
printf '%s\r\n' \
  '; The demo configuration (see docs/Varnex.sample.ini for every key)' \
  '[Setting]' "driverName=$OUT" 'varnexMode=True' 'signalMode=True' 'signalDebugMode=True' \
  'socketClient=True' 'logMode=True' \
  '[SocketClient]' 'clientID=ABC,XYZ,SLOW' \
  '[SC-ABC]' "serverPort=$ACK_PORT" \
  '[SC-XYZ]' "serverPort=$ACK_PORT" \
  '[SC-SLOW]' "serverPort=$SILENT_PORT" 'ackTimeout=300' >"$INI"

say "Varnex.ini (in the Windows directory of the Wine prefix)"
cat "$INI" | tr -d '\r'
say "varnex-doctor --symbol SLOW"
status=0
vwine "$BIN/varnex-doctor.exe" --symbol SLOW </dev/null | tr -d '\r' || status=$?
echo "(exit status $status)"

start orders varnex-orders.exe
wait_for orders "waiting for orders"

cat >"$DEMO/day.csv" <<'CSV'
date,symbol,quantity,price
today,ABC,1,101.5
today,XYZ,-2,55.25
today,DEF,3,12.75
today,ABC,1,101.75
today,SLOW,1,9.5
today,XYZ,-2,55.5
2024-02-30,ABC,5,100
today,ABC,0,102
today,XYZ,0,56
CSV
say "the trading day (day.csv): DEF has no TCP server, SLOW's server never answers, 2024-02-30 does not exist"
cat "$DEMO/day.csv"
say "varnex-replay --hold 3000 day.csv (the library stays loaded 3 s after the last signal)"
start replay varnex-replay.exe --pace 50 --hold 3000 "$(winpath "$DEMO/day.csv")"
wait_for replay "holding the library"
tr -d '\r' <"$DEMO/replay.txt"
# The library rewrites its status file at most once a second.
sleep 1.5
say "varnex-status while the replay holds the library: SLOW's server never answers, so its position is owed"
status=0
vwine "$BIN/varnex-status.exe" "$OUT" </dev/null | tr -d '\r' || status=$?
echo "(exit status $status: 0 only when nothing is down or owed)"
wait_for replay "library unloaded"
say "varnex-status after the unload: what was still owed when the library went"
status=0
vwine "$BIN/varnex-status.exe" "$OUT" </dev/null | tr -d '\r' || status=$?
echo "(exit status $status)"

vwine "$BIN/varnex-orders.exe" --stop </dev/null >/dev/null
wait_for orders "orders received"
wait_for ack "acknowledged with OK"
wait_for silent "acknowledged with OK"
say "orders received by varnex-orders (through the pipes)"
tr -d '\r' <"$DEMO/orders.txt"
say "orders acknowledged by varnex-ack (TCP, answers OK)"
tr -d '\r' <"$DEMO/ack.txt"
say "the order server that never answers (varnex-ack --silent)"
tr -d '\r' <"$DEMO/silent.txt"
for f in "$DEMO"/out/*.txt; do
  [ "$(basename "$f")" = VarnexMsg.txt ] && continue
  say "signal file $(basename "$f")"
  tr -d '\r' <"$f"
done
say "the log, VarnexMsg.txt"
tr -d '\r' <"$DEMO/out/VarnexMsg.txt"
