#!/usr/bin/env bash
# Peak resident memory of whole rovenza-cli runs (the program and the simulated bench in one
# process): every family's demo package, the largest package each family accepts, a package
# with a 250 MiB member, and the hostile corpus (its largest rows). Run from anywhere:
#
#   bash bench/memory.sh            # about a minute
#
# Figures are the kernel's peak resident set size of each finished process (GNU time's %M).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/apt-install.sh time python3 >/dev/null
cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target rovenza-cli make-fwu rovenza_hostile_tests >/dev/null

cli=$PWD/build/default/src/cli/rovenza-cli
mkfwu=$PWD/build/default/tools/make-fwu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source bench/families.sh

# One instrument of the family on a virtual-time bench (a Zenara instrument with a module of
# every type in its slots).
bench_for() {
  local family; family=$(family_name "$1")
  case "$1" in
    zenara) echo "{ \"instruments\": [ { \"family\": \"$family\", \"serial\": \"ZN000001\", \"modules\": [1, 2, 3, 4, 5, 6, 4, 1] } ] }" ;;
    velkaro) echo "{ \"instruments\": [ { \"family\": \"$family\", \"serial\": \"TV000001\" } ] }" ;;
    *) echo "{ \"instruments\": [ { \"family\": \"$family\", \"serial\": \"XX000001\" } ] }" ;;
  esac
}

# Unpacks a demo package into a folder, to rebuild it with one member replaced.
unpack_demo() {
  local kind=$1 into=$2
  mkdir -p "$into"
  "$mkfwu" --demo "$kind" "$work/$kind.fwu" >/dev/null
  (cd "$into" && python3 - "$work/$kind.fwu" <<'EOF'
import sys, zipfile
zipfile.ZipFile(sys.argv[1]).extractall('.')
EOF
  )
}

# A HEX file of `mib` MiB: the demo image's records, then records under a non-zero extended
# linear address (configuration bytes the image drops) up to the size.
grow_hex() {
  python3 - "$1" "$2" <<'EOF'
import sys
path, mib = sys.argv[1], int(sys.argv[2])
lines = open(path).read().splitlines()
end = lines.index(':00000001FF')
out = lines[:end] + [':020000040001F9']
size = sum(len(l) + 2 for l in out)
address = 0
while size < mib * 1024 * 1024 - 64:
    data = bytes((address + i) & 0xFF for i in range(16))
    rec = bytes([16, address >> 8 & 0xFF, address & 0xFF, 0]) + data
    line = ':' + rec.hex().upper() + '%02X' % (-sum(rec) & 0xFF)
    out.append(line)
    size += len(line) + 2
    address = (address + 16) & 0xFFFF
out.append(':00000001FF')
open(path, 'w').write('\r\n'.join(out) + '\r\n')
EOF
}

make_packages() {
  for kind in vk101 irig ulmo velkaro zenara; do
    "$mkfwu" --demo "$kind" "$work/demo-$kind.fwu" >/dev/null
  done
  # The largest of each family: HEX files just under the 4 MiB the readers take, a 2^25
  # character FPGA text, a 64 KiB EEPROM image with a 16 MiB flash image.
  unpack_demo vk101 "$work/big-vk101"
  grow_hex "$work/big-vk101/pic_USB.hex" 4
  (cd "$work/big-vk101" && "$mkfwu" "$work/big-vk101.fwu" Bootload.ini pic_USB.hex >/dev/null)
  unpack_demo irig "$work/big-irig"
  python3 -c "import os,sys; open(sys.argv[1],'w').write(os.urandom(1 << 24).hex().upper())" "$work/big-irig/fpga.hex"
  (cd "$work/big-irig" && "$mkfwu" "$work/big-irig.fwu" Bootload.ini pic_USB.hex fpga.hex >/dev/null)
  unpack_demo ulmo "$work/big-ulmo"
  grow_hex "$work/big-ulmo/ulmo_can.hex" 4
  (cd "$work/big-ulmo" && "$mkfwu" "$work/big-ulmo.fwu" Bootload.ini *.hex >/dev/null)
  unpack_demo velkaro "$work/big-velkaro"
  head -c 65536 /dev/urandom >"$work/big-velkaro/USB.bin"
  head -c 16777216 /dev/urandom >"$work/big-velkaro/fpga.bin"
  (cd "$work/big-velkaro" && "$mkfwu" "$work/big-velkaro.fwu" Bootload.ini USB.bin fpga.bin >/dev/null)
  # A member of 250 MiB that no family reads.
  unpack_demo vk101 "$work/member-vk101"
  head -c 262144000 /dev/zero >"$work/member-vk101/junk.bin"
  (cd "$work/member-vk101" && "$mkfwu" "$work/member-vk101.fwu" Bootload.ini pic_USB.hex junk.bin >/dev/null)
  rm -rf "$work"/big-*/ "$work"/member-*/
}

run() {  # label kind package
  local label=$1 kind=$2 package=$3 folder="$work/run"
  rm -rf "$folder"; mkdir -p "$folder"
  bench_for "$kind" >"$folder/bench.json"
  local out status=0
  out=$( { /usr/bin/time -f "@@ %M %e" "$cli" --quiet --simulate="$folder/bench.json" --program-folder "$folder" \
           --module-type IEPE "\\D" "$(family_name "$kind")" "\\F" "$package" "\\U" 2>&1; } ) || status=$?
  local peak seconds message
  read -r peak seconds < <(grep '^@@' <<<"$out" | sed 's/^@@ //')
  message=$(grep -v '^@@' <<<"$out" | grep -v '^rovenza-cli:' | tail -n 1)
  printf '%-44s %-34s %5s %8s %9s\n' "$label" "${message:0:34}" "$status" "$seconds" "$(awk -v k="$peak" 'BEGIN { printf "%.1f", k / 1024 }')"
}

make_packages
printf '%-44s %-34s %5s %8s %9s\n' "package" "message" "exit" "time s" "peak MiB"
for kind in vk101 irig ulmo velkaro zenara; do run "demo: $(family_name $kind)" "$kind" "$work/demo-$kind.fwu"; done
run "largest: VK101, a 4 MiB HEX file" vk101 "$work/big-vk101.fwu"
run "largest: IRIG, a 2^25-character FPGA text" irig "$work/big-irig.fwu"
run "largest: ULMO, a 4 MiB CAN HEX file" ulmo "$work/big-ulmo.fwu"
run "largest: Velkaro, 64 KiB + 16 MiB images" velkaro "$work/big-velkaro.fwu"
run "a 250 MiB member beside a VK101 image" vk101 "$work/member-vk101.fwu"

echo
echo "hostile corpus (tests/hostile), the five largest peaks:"
build/default/tests/rovenza_hostile_tests --gtest_filter='HostileCorpus*' 2>/dev/null |
  grep -E '[0-9]+\.[0-9]+ +[0-9]+\.[0-9]+$' | awk '{ print $NF "\t" $0 }' | sort -g | tail -n 5 | cut -f2-
