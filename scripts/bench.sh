#!/usr/bin/env bash
# Installs what is missing (gnuplot too), builds, runs every benchmark under
# Wine for each bitness this machine can execute, and writes the report:
#   bash scripts/bench.sh [REPORT_PATH]     default bench/report.md
# The scale plot goes beside the report as scale.png. Writing the default
# report also refreshes the table between the bench-table markers in README.md.
# Benchmarks print figures; nothing here passes or fails on a time.
set -euo pipefail
source "$(dirname "$0")/common.sh"

REPORT=${1:-$ROOT/bench/report.md}
mkdir -p "$(dirname "$REPORT")"
REPORT=$(cd "$(dirname "$REPORT")" && pwd)/$(basename "$REPORT")
PLOT=$(dirname "$REPORT")/scale.png

bash "$ROOT/scripts/setup.sh" --bench
varnex_build

RUNS=$(mktemp -d)
trap 'wine_down; rm -rf "$RUNS"' EXIT

# The Linux process id of this prefix's wineserver, so that the idle benchmark
# can read its run time; empty when not found.
wineserver_pid() {
  local p
  for p in $(pgrep -x "$(basename "$WINESERVER")" 2>/dev/null); do
    if tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      echo "$p"
      return
    fi
  done
}

# Every benchmark, in order; a second word is its argument.
BENCHES=("process_bench" "pipe_bench" "tcp_bench" "delivery_bench" "scale_bench" "scale_bench log" "threads_bench" "idle_bench")

: >"$RUNS/skipped"
for arch in $ARCHES; do
  if ! arch_runs "$arch"; then
    echo "== $arch: skipped, this machine cannot run $(arch_bits "$arch")-bit programs ($ARCH_WHY)"
    printf '%s\t%s\n' "$(arch_bits "$arch")" "$ARCH_WHY" >>"$RUNS/skipped"
    continue
  fi
  echo "== $arch: $(arch_bits "$arch")-bit benchmarks"
  wine_env "$arch"
  wine_up
  export VARNEX_WINESERVER_PID=$(wineserver_pid)
  out=$RUNS/$arch.txt
  {
    printf 'MACHINE\tbits\t%s\n' "$(arch_bits "$arch")"
    printf 'MACHINE\twine\t%s\n' "$("$WINELOADER" --version 2>/dev/null)"
    printf 'MACHINE\tload\t%s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
  } >"$out"
  start=$(date +%s)
  for bench in "${BENCHES[@]}"; do
    set -- $bench
    exe=$BUILD/bin/$1.exe
    shift
    status=0
    # Wine writes CR LF: a CR left at a line's end would break the report's cells.
    vwine "$exe" "$@" </dev/null 2>&1 | tr -d '\r' | tee -a "$out" || status=$?
    [ "$status" -eq 0 ] || printf 'NOTE\tfailed\t%s %s exited with %s; its figures are missing\n' \
      "$(basename "$exe")" "$*" "$status" | tee -a "$out"
  done
  printf 'MACHINE\tseconds\t%s\n' "$(($(date +%s) - start))" >>"$out"
  printf 'MACHINE\tload_end\t%s\n' "$(cut -d' ' -f1-3 /proc/loadavg)" >>"$out"
  wine_down
done
ls "$RUNS"/*.txt >/dev/null 2>&1 || { pick_arch >/dev/null; exit 1; }

# --- the report ---------------------------------------------------------------
# Number formatting shared by both tables.
NUM_AWK='
function num(v) { return v + 0 }
function fmt(v,   a) {
  a = v < 0 ? -v : v
  if (a >= 1000) return sprintf("%.0f", v)
  if (a >= 100) return sprintf("%.1f", v)
  if (a >= 1) return sprintf("%.2f", v)
  return sprintf("%.3g", v)
}
'
# One table row from a ROW line: figure, Varnex, floor, ratio, goal, met.
TABLE_AWK="$NUM_AWK"'
function cell(med, lo, hi, unit) {
  if (lo == hi) return fmt(med) " " unit
  return fmt(med) " " unit " (" fmt(lo) "–" fmt(hi) ")"
}
BEGIN {
  FS = "\t"
  print "| Figure | Varnex: median (min–max) | Floor: median (min–max) | Ratio | Goal | Met |"
  print "|---|---|---|---|---|---|"
}
$1 == "ROW" {
  id = $2; label = $3; unit = $4
  v = cell($5, $6, $7, unit)
  hasFloor = $8 != "-"
  f = hasFloor ? $8 ": " cell($9, $10, $11, unit) : "–"
  ratio = hasFloor && num($9) != 0 ? num($5) / num($9) : ""
  goal = $12; met = "–"; shown = "–"
  if (goal ~ /^ratio<=/) { g = substr(goal, 8); shown = "ratio ≤ " g; met = (ratio != "" && ratio <= num(g)) ? "yes" : "**no**" }
  else if (goal ~ /^ratio>=/) { g = substr(goal, 8); shown = "ratio ≥ " g; met = (ratio != "" && ratio >= num(g)) ? "yes" : "**no**" }
  else if (goal ~ /^value</) { g = substr(goal, 7); shown = "< " g " " unit; met = num($5) < num(g) ? "yes" : "**no**" }
  else if (goal ~ /^value=/) { g = substr(goal, 7); shown = "= " g; met = num($5) == num(g) ? "yes" : "**no**" }
  printf "| %s | %s | %s | %s | %s | %s |\n", label, v, f, ratio == "" ? "–" : sprintf("%.3f", ratio), shown, met
}'

# The README's table: every figure of each bitness's run side by side, one
# column pair per run (32-bit first), rows in the order the runs printed them.
SIDE_AWK="$NUM_AWK"'
BEGIN { FS = "\t" }
FNR == 1 { run++ }
$1 == "MACHINE" && $2 == "bits" { bits[run] = $3 }
$1 == "ROW" {
  id = $2
  if (!(id in label)) { order[++rows] = id; label[id] = $3 }
  unit = $4; goal = $12; shown = "–"; ratio = ""; met = "–"
  if ($8 != "-" && num($9) != 0) ratio = num($5) / num($9)
  if (goal ~ /^ratio<=/) { g = substr(goal, 8); shown = "ratio ≤ " g; met = (ratio != "" && ratio <= num(g)) ? "yes" : "**no**" }
  else if (goal ~ /^ratio>=/) { g = substr(goal, 8); shown = "ratio ≥ " g; met = (ratio != "" && ratio >= num(g)) ? "yes" : "**no**" }
  else if (goal ~ /^value</) { g = substr(goal, 7); shown = "< " g " " unit; met = num($5) < num(g) ? "yes" : "**no**" }
  else if (goal ~ /^value=/) { g = substr(goal, 7); shown = "= " g; met = num($5) == num(g) ? "yes" : "**no**" }
  goals[id] = shown
  cell[id, run] = fmt($5) " " unit (ratio == "" ? "" : sprintf(" (ratio %.3f)", ratio))
  ok[id, run] = met
}
END {
  head = "| Figure | Goal |"; rule = "|---|---|"
  for (r = 1; r <= run; r++) { head = head " " bits[r] "-bit: median | Met |"; rule = rule "---|---|" }
  print head; print rule
  for (i = 1; i <= rows; i++) {
    id = order[i]; line = "| " label[id] " | " goals[id] " |"
    for (r = 1; r <= run; r++) line = line " " ((id, r) in cell ? cell[id, r] " | " ok[id, r] : "– | –") " |"
    print line
  }
}'

machine_value() { awk -F'\t' -v k="$2" '$1 == "MACHINE" && $2 == k { print $3 }' "$1"; }

table_for() { awk "$TABLE_AWK" "$1"; }

# The scale curve: absolute cost with every switch off, and each series
# relative to its own cost at 1 symbol (the goal is drawn there).
plot_scale() {
  local data=$1 series relative=""
  for series in scale scale_log; do
    awk -F'\t' -v s="$series" '$1 == "POINT" && $2 == s { if (!base) base = $4; print $3, $4, $5, $6, $4 / base, $5 / base, $6 / base }' \
      "$data" >"$RUNS/$series.dat"
  done
  [ -s "$RUNS/scale.dat" ] || return 1
  relative="'$RUNS/scale.dat' using 1:5:6:7 with yerrorlines lw 2 pt 7 title 'every switch off'"
  [ -s "$RUNS/scale_log.dat" ] && relative="$relative, '$RUNS/scale_log.dat' using 1:5:6:7 with yerrorlines lw 2 pt 9 title 'log on'"
  gnuplot <<EOF
set terminal pngcairo size 1100,460 font ",10"
set termoption noenhanced
set output '$PLOT'
set multiplot layout 1,2 title "Varnex: _process per changed signal as the position book grows ($2)"
set logscale x 10
set xrange [0.5:200000]
set xtics ("1" 1, "1,000" 1000, "10,000" 10000, "100,000" 100000)
set grid
set key top left
set xlabel 'symbols in the book'
set yrange [0:*]
set title 'every switch off: median, min-max of rounds'
set ylabel 'microseconds per changed signal'
plot '$RUNS/scale.dat' using 1:2:3:4 with yerrorlines lw 2 pt 7 title 'Varnex'
set title 'relative to the cost at 1 symbol'
set ylabel 'cost / cost at 1 symbol'
plot $relative, 1.2 with lines dt 2 lw 2 lc rgb 'red' title 'goal: at most 1.2'
unset multiplot
EOF
}

# The commit measured; the script's own outputs do not make it "changed".
SOURCE="$(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown)"
git -C "$ROOT" diff --quiet HEAD -- . ':(exclude)bench/report.md' ':(exclude)bench/scale.png' ':(exclude)README.md' \
  2>/dev/null || SOURCE="$SOURCE (with uncommitted changes)"

{
  echo "# Varnex benchmark report"
  echo
  echo "Written by \`bash scripts/bench.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC') from commit $SOURCE."
  echo "Every figure is next to a floor measured in the same run, on the same machine, in alternating rounds;"
  echo "medians of several rounds with their min–max. Figures only: nothing here passes or fails a build."
  echo "On a shared machine the absolute figures move from run to run with the load; the ratios, whose two"
  echo "sides take turns within seconds, move much less."
  echo
  echo "## Machine"
  echo
  echo "- CPU: $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo), $(nproc) cores online (shared with other work: see the load average)"
  echo "- Linux $(uname -r), $(. /etc/os-release 2>/dev/null && echo "$PRETTY_NAME")"
  while IFS=$'\t' read -r bits why; do
    echo "- ${bits}-bit run: **skipped**, this machine cannot run ${bits}-bit programs ($why)"
  done <"$RUNS/skipped"
  for data in "$RUNS"/*.txt; do
    echo "- $(machine_value "$data" bits)-bit run: $(machine_value "$data" wine), $(machine_value "$data" seconds) s, load average (1, 5, 15 min) $(machine_value "$data" load) at the start and $(machine_value "$data" load_end) at the end"
  done
  for data in "$RUNS"/*.txt; do
    bits=$(machine_value "$data" bits)
    echo
    echo "## ${bits}-bit Varnex.dll"
    echo
    table_for "$data"
    echo
    if plot_scale "$data" "${bits}-bit" >"$RUNS/gnuplot.log" 2>&1; then
      echo "![scale curve]($(basename "$PLOT"))"
    else
      echo "(no scale plot: $(head -c 300 "$RUNS/gnuplot.log"))"
    fi
    echo
    echo "Scale points (symbols: median µs per changed signal, min–max):"
    echo
    awk -F'\t' '$1 == "POINT" { printf "- %s, %s symbol%s: %.2f µs (%.2f–%.2f)\n", $2 == "scale" ? "every switch off" : "log on", $3, $3 == 1 ? "" : "s", $4, $5, $6 }' "$data"
    echo
    echo "### How each figure is made"
    echo
    awk -F'\t' '$1 == "NOTE" { print "- **" $2 "**: " $3 }' "$data"
  done
  echo
  echo "## Ratios"
  echo
  echo "Ratio is Varnex's median over the floor's median. For the threads row the floor is the same relay from one"
  echo "thread, for the scale rows the cost at 1 symbol. The idle rows have no floor: their goal is absolute."
} >"$REPORT"
echo "report: $REPORT"
[ -f "$PLOT" ] && echo "plot:   $PLOT"

# README shows the latest figures of the default report, every bitness side by side.
if [ "$REPORT" = "$ROOT/bench/report.md" ] && grep -q '<!-- bench-table:start -->' "$ROOT/README.md"; then
  runs=()
  for arch in $ARCHES; do [ -f "$RUNS/$arch.txt" ] && runs+=("$RUNS/$arch.txt"); done
  awk "$SIDE_AWK" "${runs[@]}" >"$RUNS/table.md"
  ran=$(for data in "${runs[@]}"; do echo "$(machine_value "$data" bits)-bit"; done | paste -sd, - | sed 's/,/ and /g')
  skipped=$(cut -f1 "$RUNS/skipped" | sed 's/$/-bit/' | paste -sd, - | sed 's/,/ and /g')
  awk -v table="$RUNS/table.md" -v ran="$ran" -v skipped="$skipped" -v when="$(date -u '+%Y-%m-%d')" '
    /<!-- bench-table:start -->/ { print; print ""
                                   note = skipped == "" ? "" : "; the " skipped " run was skipped: this machine cannot run it"
                                   print "Latest run (" when ", " ran note ", written by scripts/bench.sh; the full report with the machine, the floors, how each figure is made and the plot is bench/report.md). Each cell is the median of the rounds, with its ratio to the floor measured in the same run:"; print ""
                                   while ((getline line < table) > 0) print line; print ""; skip = 1; next }
    /<!-- bench-table:end -->/ { skip = 0 }
    !skip { print }' "$ROOT/README.md" >"$RUNS/README.md"
  cat "$RUNS/README.md" >"$ROOT/README.md"
fi
