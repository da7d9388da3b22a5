#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer) and
# runs every fuzz target in turn, each from its seeds in fuzz/corpus/<target>:
#
#   scripts/fuzz.sh [SECONDS]               each target for SECONDS (default 30)
#   scripts/fuzz.sh --runs N [TARGET...]    each target (or those named) for N inputs
#
# New inputs go to build/fuzz/run/corpus/<target> (the committed seeds are only read); an input
# that crashes a target, trips a sanitizer, fails a check or runs too long is left in
# build/fuzz/run/crashes/<target>/ and makes the script exit non-zero once every target has run.
# Prints the inputs each target executed; the full output is in build/fuzz/run/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."

limit=(-max_total_time=30)
if [ "${1:-}" = "--runs" ]; then
  [ $# -ge 2 ] || { echo "usage: $0 [SECONDS] | --runs N [TARGET...]" >&2; exit 2; }
  limit=(-runs="$2")
  shift 2
elif [ $# -ge 1 ]; then
  limit=(-max_total_time="$1")
  shift
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/fuzz_*.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2

# The readers take their input as a file in a temporary folder of their process, made under
# one folder of this run (removed at the end, also after a crash); on tmpfs where there is one,
# so that the writes cost no disk flushes.
base=/tmp
if [ -d /dev/shm ] && [ -w /dev/shm ]; then base=/dev/shm; fi
TMPDIR=$(mktemp -d "$base/rovenza-fuzz.XXXXXX")
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT
export UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

run=build/fuzz/run
failed=()
start=$(date +%s)
for target in "${targets[@]}"; do
  corpus=$run/corpus/$target
  crashes=$run/crashes/$target
  log=$run/$target.log
  mkdir -p "$corpus" "$crashes"
  status=ok
  build/fuzz/fuzz/"$target" "${limit[@]}" -timeout=20 -print_final_stats=1 -artifact_prefix="$crashes/" \
    "$corpus" "fuzz/corpus/$target" >"$log" 2>&1 || status=FAILED
  # The executed inputs: the final statistics, or after a crash the last status line.
  runs=$(sed -n 's/^stat::number_of_executed_units: //p' "$log" | tail -n 1)
  [ -n "$runs" ] || runs=$(grep -o '^#[0-9]*' "$log" | tail -n 1 | tr -d '#')
  printf '%-20s %12s inputs  %s\n' "$target" "${runs:-0}" "$status"
  if [ "$status" != ok ]; then
    failed+=("$target")
    # The report from its first line (sanitizer, failed check or libFuzzer's own), shortened.
    sed -n '/ERROR\|check failed\|runtime error/,$p' "$log" | head -n 60
    ls -l "$crashes"
  fi
done
echo "fuzz wall time: $(( $(date +%s) - start )) s"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing failed: ${failed[*]} (inputs in $run/crashes)" >&2
  exit 1
fi
