#!/usr/bin/env bash
# How much longer than its mandated waits a full upgrade takes on the real-clock bench with no
# USB latency, per family. For each family: the demo package, one instrument of the family on a
# bench with "latencyUs": 0, and two runs of rovenza-cli with a bench dump: one on the virtual
# clock, one on the real clock. One row of the table per family:
#
#   wall       the real run: bench time from the first driver request to the end of the run (the
#              dump), so that process start-up and package extraction (which come before the
#              first request) are not counted
#   waits      the real run: the host's own sleeps as the bench recorded them (waits.txt), the
#              sum of the lengths asked and their count
#   bench      the bench's own waits inside requests (waits.txt benchWaitMs) in the virtual run:
#              with no USB latency, the instrument's work that a reply waits for (the IRIG
#              clock's programming-mode preparation) and, on the Zenara instrument, the I2C
#              bridge: the host polls it without sleeping while the module answers, each poll a
#              USB round trip that ends with its 125 us microframe, six polls until the 700 us
#              reply shows. The host sits this out as surely as its own sleeps.
#   mandated   the virtual run's length: the same upgrade with every wait exactly as long as
#              asked and the host's own work costing nothing, which is waits + bench
#   over       (wall - mandated) / mandated: sleeping longer than asked, polls the host made
#              late, and the work between waits
#   late       the real run: the sum of what the host's sleeps took beyond their lengths
#   short      the real run: sleeps that returned before their length (must be 0)
#
# Usage: bench/waits.sh [vk101|irig|ulmo|velkaro|zenara ...]   (default: all five; the whole
# table takes about four minutes of real time; run it on a quiet machine). ROVENZA_CLI names
# another rovenza-cli to measure (an earlier build) instead of the one built here.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target rovenza-cli make-fwu >/dev/null

cli=${ROVENZA_CLI:-build/default/src/cli/rovenza-cli}
families=("$@")
[ ${#families[@]} -gt 0 ] || families=(vk101 irig ulmo velkaro zenara)
work=$(mktemp -d "${TMPDIR:-/tmp}/rovenza-waits.XXXXXX")
trap 'rm -rf "$work"' EXIT

family_name() {
  case $1 in
    vk101) echo "VK101 Power Controller" ;;
    irig) echo "IRIG Clock" ;;
    ulmo) echo "ULMO" ;;
    velkaro) echo "Velkaro USB" ;;
    zenara) echo "VKUSB Zenara - Modules" ;;
    *) echo "waits.sh: unknown family $1" >&2; exit 2 ;;
  esac
}

# A full Zenara instrument: a module that can tell its type in every slot, so no slot needs a
# --module-type answer and the run ends "Firmware upgrade successful!".
instrument_extra() {
  [ "$1" = zenara ] && echo ', "modules": ["IEPE", "BR", "MULTIMP", "HV", "LV", "IEPE CNT", "IEPE", "BR"]'
  return 0
}

# run FAMILY CLOCK: one upgrade into $work/FAMILY/CLOCK, its dump in .../dump.
run() {
  local name dir message
  name=$(family_name "$1")
  dir=$work/$1/$2
  mkdir -p "$dir/program"
  printf '{ "clock": "%s", "latencyUs": 0, "instruments": [ { "family": "%s", "serial": "WT000001"%s } ] }\n' \
    "$2" "$name" "$(instrument_extra "$1")" >"$dir/bench.json"
  message=$("$cli" --quiet --simulate="$dir/bench.json" --bench-dump "$dir/dump" --program-folder "$dir/program" \
    "\\D" "$name" "\\F" "$work/$1/package.fwu" "\\U")
  if [ "$message" != "Firmware upgrade successful!" ]; then
    echo "waits.sh: $name ($2 clock): $message" >&2
    exit 1
  fi
}

# key=value lines of waits.txt, and "first": the time of the first request.
summary() {
  { sed -n '/^[A-Za-z]*=/p' "$1/waits.txt"; echo "first=$(head -n 1 "$1/requests.log" | cut -f 1)"; } | tr '\n' ' '
}

printf '%-24s %9s %16s %9s %10s %7s %8s %5s\n' family "wall s" "waits s (n)" "bench s" "mandated s" "over %" "late ms" short
for f in "${families[@]}"; do
  mkdir -p "$work/$f"
  build/default/tools/make-fwu --demo "$f" "$work/$f/package.fwu" >/dev/null
  run "$f" virtual
  run "$f" real
  echo "$(family_name "$f")|$(summary "$work/$f/virtual/dump")|$(summary "$work/$f/real/dump")" | awk -F'|' '
    function read(text, into,   n, i, pair, kv) {
      n = split(text, pair, " ")
      for (i = 1; i <= n; ++i) { split(pair[i], kv, "="); into[kv[1]] = kv[2] }
    }
    {
      read($2, v); read($3, r)
      mandated = v["nowMs"] - v["first"]
      wall = r["nowMs"] - r["first"]
      printf "%-24s %9.3f %9.3f (%4d) %9.3f %10.3f %7.3f %8.3f %5d\n", $1, wall / 1000, r["askedMs"] / 1000,
        r["waits"], v["benchWaitMs"] / 1000, mandated / 1000, 100 * (wall - mandated) / mandated,
        r["tookMs"] - r["askedMs"], r["shorter"]
    }'
done
