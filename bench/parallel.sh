#!/usr/bin/env bash
# Several "Velkaro USB" instruments upgraded at once (rovenza-cli --parallel) on the real-clock
# bench with no USB latency: the wall time of 1, 2 and 4 instruments, and its ratio to one
# instrument. The instruments' protocol waits (the 4 s restart waits, the erase and the pauses
# around the flash: about 17 s a run) overlap, so the ratio should stay near 1 (the claim: at
# most 1.2). The wall time is the whole program's: start, unpacking and reading the images are
# included, once per run, as an operator sees them. About a minute in all.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
cmake --preset default >/dev/null
cmake --build --preset default --target rovenza-cli make-fwu >/dev/null

cli="$root/build/default/src/cli/rovenza-cli"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$root/build/default/tools/make-fwu" --demo velkaro "$work/velkaro.fwu" >/dev/null

# A real-clock bench file with `count` Velkaro USB instruments, TV000001 on.
bench_file() {
    local count=$1 file="$work/bench$1.json" i sep=""
    {
        printf '{ "clock": "real", "latencyUs": 0, "instruments": ['
        for ((i = 1; i <= count; i++)); do
            printf '%s\n  { "family": "Velkaro USB", "serial": "TV%06d" }' "$sep" "$i"
            sep=","
        done
        printf ' ] }\n'
    } >"$file"
    echo "$file"
}

printf '%-12s %10s %10s\n' "instruments" "wall s" "ratio"
one=""
for count in 1 2 4; do
    file="$(bench_file "$count")"
    mkdir -p "$work/run$count"
    start=$(date +%s.%N)
    message="$("$cli" --quiet --parallel --simulate="$file" --program-folder "$work/run$count" \
        "\\D" "Velkaro USB" "\\F" "$work/velkaro.fwu" "\\U")"
    end=$(date +%s.%N)
    if [[ "$message" != "Firmware upgrade successful!" ]]; then
        echo "parallel.sh: $count instruments ended \"$message\"" >&2
        exit 1
    fi
    wall=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
    [[ -z "$one" ]] && one=$wall
    printf '%-12s %10.2f %10.3f\n' "$count" "$wall" "$(awk -v w="$wall" -v o="$one" 'BEGIN { print w / o }')"
done
