#!/usr/bin/env bash
# The Windows build, checked on Debian: installs the cross compilers and wine (Debian packages
# only), builds zlib, libzip and GoogleTest for Windows (scripts/windows-deps.sh), cross-builds
# the core, the Windows backend, rovenza-cli, make-fwu and the unit, package and backend tests,
# runs the tests under wine, and runs rovenza-cli.exe against a machine without instruments:
# it must walk the driver's interface class, try "\\.\vkusb-0", print "Instrument is not
# connected." and exit 4 (no instrument).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ROVENZA_WIN_BUILD:-$root/build-win}
jobs=${ROVENZA_JOBS:-2}
cd "$root"

# --- Debian packages ---------------------------------------------------------------------------
bash scripts/apt-install.sh cmake ninja-build pkg-config dpkg-dev googletest \
  gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
  mingw-w64-x86-64-dev wine wine64

# --- Third-party libraries and the cross build -------------------------------------------------
bash scripts/windows-deps.sh
deps_prefix=${ROVENZA_WIN_DEPS:-$root/build-win-deps}/prefix
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DROVENZA_WIN_DEPS_PREFIX="$deps_prefix" \
  -DROVENZA_BUILD_GUI=OFF -DROVENZA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target rovenza-cli make-fwu \
  rovenza_unit_tests rovenza_package_tests rovenza_win32_tests

# The device set-up interface is bound by name at run time, never linked.
if x86_64-w64-mingw32-objdump -p "$build/src/cli/rovenza-cli.exe" | grep -qi 'DLL Name: *setupapi'; then
  echo "windows-test: rovenza-cli.exe links SetupApi.dll" >&2
  exit 1
fi

# --- wine: a fresh prefix under the build folder, one server for the whole run -----------------
export WINEPREFIX=$build/wineprefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
wineserver=$(command -v wineserver || true)
[ -n "$wineserver" ] || for w in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver; do
  [ -x "$w" ] && { wineserver=$w; break; }
done
[ -n "$wineserver" ] || { echo "windows-test: wineserver not found" >&2; exit 1; }
"$wineserver" -k 2>/dev/null || true  # a server left by an earlier run of this prefix
rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX"
"$wineserver" -p
trap '"$wineserver" -k 2>/dev/null || true' EXIT
wine wineboot --init >"$build/wineboot.log" 2>&1 || { cat "$build/wineboot.log" >&2; exit 1; }

# --- Tests under wine --------------------------------------------------------------------------
ctest --test-dir "$build" --output-on-failure

# --- The command line on a machine without instruments -----------------------------------------
check=$build/cli-check
rm -rf "$check" && mkdir -p "$check"
(cd "$build" && wine tools/make-fwu.exe --demo vk101 cli-check/vk101.fwu >/dev/null)
status=0
(cd "$build" && WINEDEBUG=-all,trace+setupapi,trace+file wine src/cli/rovenza-cli.exe \
  '\D' "VK101 Power Controller" '\F' cli-check/vk101.fwu '\U') \
  >"$check/stdout.txt" 2>"$check/wine-trace.txt" || status=$?
output=$(tr -d '\r' <"$check/stdout.txt")
fail() { echo "windows-test: rovenza-cli.exe: $*" >&2; echo "stdout: $output" >&2; exit 1; }
[ "$output" = "Instrument is not connected." ] || fail "unexpected message"
[ "$status" -eq 4 ] || fail "exit status $status, expected 4"
# The walk over the first-generation class with DIGCF_PRESENT | DIGCF_DEVICEINTERFACE ...
grep -qiE 'SetupDiGetClassDevs.*\{012ad3ce-c19e-485c-9cc0-3935f972bd45\}.*0x00000012' "$check/wine-trace.txt" ||
  fail "no enumeration of the first-generation interface class"
# ... then the fixed device, write access, write sharing, OPEN_EXISTING (3), no attributes.
grep -qF 'CreateFileW L"\\\\.\\vkusb-0" GENERIC_WRITE FILE_SHARE_WRITE  creation 3 attributes 0x0' \
  "$check/wine-trace.txt" || fail "no attempt to open \\\\.\\vkusb-0"
echo "windows-test: rovenza-cli.exe walked the interface class, tried \\\\.\\vkusb-0, printed \"$output\" and exited 4"

# The command trace switched on without a file name goes to "C:\USBLog.txt" on Windows.
rm -f "$WINEPREFIX/drive_c/USBLog.txt"
(cd "$build" && ROVENZA_TRACE= wine src/cli/rovenza-cli.exe \
  '\D' "VK101 Power Controller" '\F' cli-check/vk101.fwu '\U') >/dev/null 2>&1 || true
[ -f "$WINEPREFIX/drive_c/USBLog.txt" ] || { echo "windows-test: no trace file C:\\USBLog.txt" >&2; exit 1; }
echo "windows-test: the trace without a file name went to C:\\USBLog.txt"

# --- The Windows archive -----------------------------------------------------------------------
# CPack's ZIP generator over the install rules: rovenza-cli-<version>-win64.zip holds the two
# programs, the README and the licences of the linked libraries. Unpacked into a fresh folder,
# the archive's rovenza-cli.exe runs under wine and keeps its work folder Temp beside itself.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
rm -f "$build"/rovenza-cli-*-win64.zip
(cd "$build" && cpack -G ZIP >"$build/cpack.log" 2>&1) || { cat "$build/cpack.log" >&2; exit 1; }
zip=$build/rovenza-cli-$version-win64.zip
[ -f "$zip" ] || { echo "windows-test: cpack made no $(basename "$zip")" >&2; exit 1; }
unpacked=$build/zip-check
rm -rf "$unpacked" && mkdir -p "$unpacked"
unzip -q "$zip" -d "$unpacked"
folder=$unpacked/rovenza-cli-$version-win64
zipfail() { echo "windows-test: $(basename "$zip"): $*" >&2; exit 1; }
for f in rovenza-cli.exe make-fwu.exe README.md licenses/README.txt licenses/zlib.txt licenses/libzip.txt; do
  [ -f "$folder/$f" ] || zipfail "no $f"
done
# Every DLL the programs import is Windows' own (wine's system folder holds it) or in the archive.
for exe in "$folder"/*.exe; do
  for dll in $(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/.*DLL Name: *//p'); do
    [ -f "$folder/$dll" ] || [ -n "$(find "$WINEPREFIX/drive_c/windows/system32" -maxdepth 1 -iname "$dll")" ] ||
      zipfail "$(basename "$exe") needs $dll, which neither Windows nor the archive has"
  done
done
out=$(cd "$folder" && wine rovenza-cli.exe --version | tr -d '\r')
[ "$out" = "rovenza-cli $version" ] || zipfail "rovenza-cli.exe --version said \"$out\""
(cd "$folder" && wine make-fwu.exe --demo vk101 vk101.fwu >/dev/null)
status=0
out=$(cd "$folder" && wine rovenza-cli.exe --quiet '\D' "VK101 Power Controller" '\F' vk101.fwu '\U' | tr -d '\r') ||
  status=$?
[ "$status" -eq 4 ] && [ "$out" = "Instrument is not connected." ] || zipfail "rovenza-cli.exe said \"$out\", exit $status"
[ -f "$folder/Temp/Bootload.ini" ] || zipfail "the unpacked rovenza-cli.exe kept no work folder Temp beside itself"
echo "windows-test: $(basename "$zip") ($(stat -c %s "$zip") bytes): rovenza-cli.exe --version said \"rovenza-cli $version\"; its work folder is beside it"
