#!/usr/bin/env bash
# Builds the native fuzz targets of the pure code (clang 14, libFuzzer,
# AddressSanitizer + UndefinedBehaviorSanitizer) in build/fuzz, after
# installing what is missing.
#
#   bash scripts/fuzz.sh           replays every committed seed input once
#   bash scripts/fuzz.sh SECONDS   fuzzes each target for SECONDS seconds
#
# A fuzzing run starts from a scratch copy of the target's seed corpus
# (build/fuzz/work/<target>), so the committed corpus never grows by
# accident; a failing input is saved as build/fuzz/artifacts/<target>-crash-*.
# Exits non-zero, naming the targets, when any property or sanitizer fails.
set -euo pipefail
source "$(dirname "$0")/common.sh"

seconds=${1:-}
if [ -n "$seconds" ] && ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [SECONDS]" >&2
  exit 2
fi

bash "$ROOT/scripts/setup.sh"
FUZZ_BUILD=$BUILD_ROOT/fuzz
mkdir -p "$FUZZ_BUILD"
if [ ! -f "$FUZZ_BUILD/build.ninja" ]; then
  cmake -S "$ROOT/fuzz" -B "$FUZZ_BUILD" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 \
    >"$FUZZ_BUILD.configure.log" 2>&1 || { cat "$FUZZ_BUILD.configure.log"; exit 1; }
fi
cmake --build "$FUZZ_BUILD" -- -j"$(nproc)" >"$FUZZ_BUILD.build.log" 2>&1 ||
  { tail -n 60 "$FUZZ_BUILD.build.log"; exit 1; }

# Leaks fail too; UBSan already stops at its first finding (-fno-sanitize-recover).
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

targets=()
for source in "$ROOT"/fuzz/*_fuzz.cpp; do
  name=$(basename "$source" _fuzz.cpp)
  targets+=("$name")
done
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz/*_fuzz.cpp targets" >&2; exit 1; }

failed=()
inputs=0
mkdir -p "$FUZZ_BUILD/logs" "$FUZZ_BUILD/artifacts"
for name in "${targets[@]}"; do
  exe=$FUZZ_BUILD/bin/${name}_fuzz
  corpus=$ROOT/fuzz/corpus/$name
  log=$FUZZ_BUILD/logs/$name.log
  seeds=()
  [ -d "$corpus" ] && for f in "$corpus"/*; do [ -f "$f" ] && seeds+=("$f"); done
  if [ ${#seeds[@]} -eq 0 ]; then
    echo "fuzz: $name has no seed inputs in fuzz/corpus/$name" >&2
    failed+=("$name")
    continue
  fi
  if [ -z "$seconds" ]; then
    # Named files are each run once and never written to.
    if "$exe" -timeout=60 -artifact_prefix="$FUZZ_BUILD/artifacts/$name-" "${seeds[@]}" >"$log" 2>&1; then
      inputs=$((inputs + ${#seeds[@]}))
    else
      echo "fuzz: $name FAILED on its seed corpus ($log):" >&2
      grep -E -A12 'property failed|ERROR: |runtime error' "$log" | head -n 40 >&2 || tail -n 40 "$log" >&2
      failed+=("$name")
    fi
    continue
  fi
  work=$FUZZ_BUILD/work/$name
  rm -rf "$work" && mkdir -p "$work"
  cp "${seeds[@]}" "$work/"
  echo "== $name: fuzzing for $seconds s from ${#seeds[@]} seeds"
  if "$exe" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 \
    -artifact_prefix="$FUZZ_BUILD/artifacts/$name-" "$work" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    echo "   $name: ${runs:-?} inputs run, corpus now $(ls "$work" | wc -l) inputs (in $work), no failure"
  else
    echo "fuzz: $name FAILED ($log):" >&2
    grep -E -A12 'property failed|ERROR: |runtime error' "$log" | head -n 40 >&2 || tail -n 40 "$log" >&2
    ls "$FUZZ_BUILD/artifacts/$name-"* 2>/dev/null | sed 's/^/   failing input: /' >&2 || true
    failed+=("$name")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: FAILED: ${failed[*]}" >&2
  exit 1
fi
if [ -z "$seconds" ]; then
  echo "fuzz corpus replay: ${#targets[@]} targets, $inputs inputs, all passed"
else
  echo "fuzzing: ${#targets[@]} targets, $seconds s each, all held"
fi
