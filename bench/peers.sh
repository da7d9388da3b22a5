#!/usr/bin/env bash
# Package extraction and Intel HEX reading against the programs people use for the same work,
# each as a whole process on the same input, in one run on this machine:
#   - unpacking a package whose 16 MiB bitstream member is deflated: rovenza-peers extract
#     against `unzip -o PKG -d DIR`;
#   - reading a 16 MiB Intel HEX file (16-byte records) into a binary image: rovenza-peers
#     readhex against `srec_cat FILE -intel -o OUT -binary`.
# Our command and the other alternate (which goes first alternates as well) over PEERS_RUNS runs
# (default 11), each from a fresh output; the table shows medians of wall time, CPU time and peak
# memory, and the ratios ours / theirs.
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."

runs=${PEERS_RUNS:-11}
bash scripts/apt-install.sh unzip srecord time >/dev/null
cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target rovenza-peers >/dev/null
peers=$PWD/build/default/bench/rovenza-peers

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$peers" make-inputs "$tmp/in"
package=$tmp/in/fpga.fwu
hex=$tmp/in/image.hex

# Runs a command once, its output thrown away, and appends "wall cpu peakKiB" to the file $1.
measure() {
  local into=$1
  shift
  local start=$EPOCHREALTIME
  if ! /usr/bin/time -f "%U %S %M" -o "$tmp/rusage" "$@" >/dev/null 2>"$tmp/stderr"; then
    echo "failed: $*" >&2
    cat "$tmp/stderr" >&2
    exit 1
  fi
  local end=$EPOCHREALTIME
  awk -v start="$start" -v end="$end" '{ printf "%.6f %.2f %d\n", end - start, $1 + $2, $3 }' "$tmp/rusage" >>"$into"
}

# Each run starts from an empty output folder / no output file.
ours_extract() { rm -rf "$tmp/ours"; mkdir "$tmp/ours"; measure "$tmp/extract.ours" "$peers" extract "$package" "$tmp/ours"; }
peer_extract() { rm -rf "$tmp/peer"; mkdir "$tmp/peer"; measure "$tmp/extract.peer" unzip -q -o "$package" -d "$tmp/peer"; }
ours_hex() { rm -f "$tmp/ours.bin"; measure "$tmp/hex.ours" "$peers" readhex "$hex" "$tmp/ours.bin"; }
peer_hex() { rm -f "$tmp/peer.bin"; measure "$tmp/hex.peer" srec_cat "$hex" -intel -o "$tmp/peer.bin" -binary; }

for ((i = 0; i < runs; i++)); do
  if ((i % 2 == 0)); then
    ours_extract; peer_extract; ours_hex; peer_hex
  else
    peer_extract; ours_extract; peer_hex; ours_hex
  fi
done
cmp -s "$tmp/ours/fpga.bin" "$tmp/peer/fpga.bin" || { echo "the extracted members differ" >&2; exit 1; }
cmp -s "$tmp/ours.bin" "$tmp/peer.bin" || { echo "the binary images differ" >&2; exit 1; }

# The median of column $2 of file $1.
median() {
  awk -v c="$2" '{ print $c }' "$1" | sort -g |
    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

member_bytes=$(stat -c %s "$tmp/ours/fpga.bin")
hex_bytes=$(stat -c %s "$hex")
echo
echo "Medians of $runs alternating runs; ratio = ours / theirs (below 1: ours is faster or smaller)."
printf "%-40s %9s %9s %7s %8s %8s %7s %9s %9s\n" "" "wall s" "" "" "CPU s" "" "" "peak MiB" ""
printf "%-40s %9s %9s %7s %8s %8s %7s %9s %9s %9s\n" "task (theirs)" ours theirs ratio ours theirs ratio ours theirs "ours MB/s"
row() {
  local what=$1 name=$2 bytes=$3
  local wo wp co cp mo mp
  wo=$(median "$tmp/$name.ours" 1); wp=$(median "$tmp/$name.peer" 1)
  co=$(median "$tmp/$name.ours" 2); cp=$(median "$tmp/$name.peer" 2)
  mo=$(median "$tmp/$name.ours" 3); mp=$(median "$tmp/$name.peer" 3)
  awk -v what="$what" -v wo="$wo" -v wp="$wp" -v co="$co" -v cp="$cp" -v mo="$mo" -v mp="$mp" -v bytes="$bytes" 'BEGIN {
    printf "%-40s %9.3f %9.3f %7.2f %8.2f %8.2f %7s %9.1f %9.1f %9.0f\n", what, wo, wp, wo / wp, co, cp,
      (cp > 0 ? sprintf("%.2f", co / cp) : "-"), mo / 1024, mp / 1024, bytes / wo / 1e6 }'
}
row "extract a 16 MiB member (unzip -o)" extract "$member_bytes"
row "read a 16 MiB Intel HEX file (srec_cat)" hex "$hex_bytes"
echo "(MB/s: the member's uncompressed bytes, the HEX file's bytes, per wall second of our process)"
