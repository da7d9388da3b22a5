#!/usr/bin/env bash
# How much longer than its mandated waits a full upgrade takes on the real-clock bench with no
# USB latency, per family. For each family: the demo package, a bench file with "clock": "real",
# "latencyUs": 0 and one instrument of the family, one run of rovenza-cli with a bench dump, and
# one row of the table:
#
#   wall       bench time from the first driver request to the end of the run (the dump), so
#              that process start-up and package extraction are not counted (they come before
#              the first request)
#   waits      the host's own sleeps as the bench recorded them (waits.txt): their count and
#              the sum of the lengths asked
#   bench      the bench's own waits inside requests, as asked (waits.txt benchWaitMs): with no
#              USB latency only the instrument's work that a reply waits for (the IRIG clock's
#              programming-mode preparation) and, on the Zenara instrument, the I2C bridge: the
#              host busy-polls it (no sleep) while the module answers, each poll a USB round trip
#              that ends with its 125 us microframe, so the module's reply time is sat out in
#              whole microframes
#   mandated   waits + bench: what the protocol and the instrument make the host sit out
#   over       (wall - mandated) / mandated: the cost of sleeping longer than asked and of the
#              work between waits
#   late       the sum of what the host's sleeps took beyond their lengths
#   short      sleeps that returned before their length (must be 0)
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

printf '%-24s %10s %16s %10s %10s %7s %9s %6s\n' family "wall s" "waits s (n)" "bench s" "mandated s" "over %" "late ms" short
for f in "${families[@]}"; do
  name=$(family_name "$f")
  dir=$work/$f
  mkdir -p "$dir/program"
  build/default/tools/make-fwu --demo "$f" "$dir/package.fwu" >/dev/null
  printf '{ "clock": "real", "latencyUs": 0, "instruments": [ { "family": "%s", "serial": "WT000001"%s } ] }\n' \
    "$name" "$(instrument_extra "$f")" >"$dir/bench.json"
  message=$("$cli" --quiet --simulate="$dir/bench.json" --bench-dump "$dir/dump" \
    --program-folder "$dir/program" "\\D" "$name" "\\F" "$dir/package.fwu" "\\U")
  if [ "$message" != "Firmware upgrade successful!" ]; then
    echo "waits.sh: $name: $message" >&2
    exit 1
  fi
  first=$(head -n 1 "$dir/dump/requests.log" | cut -f 1)
  awk -F= -v family="$name" -v first="$first" '
    { value[$1] = $2 }
    END {
      wall = value["nowMs"] - first
      mandated = value["askedMs"] + value["benchWaitMs"]
      printf "%-24s %10.3f %9.3f (%4d) %10.3f %10.3f %7.3f %9.3f %6d\n", family, wall / 1000,
        value["askedMs"] / 1000, value["waits"], value["benchWaitMs"] / 1000, mandated / 1000,
        100 * (wall - mandated) / mandated, value["tookMs"] - value["askedMs"], value["shorter"]
    }' "$dir/dump/waits.txt"
done
