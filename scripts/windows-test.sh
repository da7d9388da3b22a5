#!/usr/bin/env bash
# The Windows build, checked on Debian: installs the cross compilers and wine (Debian packages
# only), builds zlib, libzip and GoogleTest for Windows (scripts/windows-deps.sh), cross-builds
# the core, the Windows backend, rovenza-cli, the window rovenza, make-fwu and the unit, package
# and backend tests, runs the tests under wine, and runs rovenza-cli.exe against a machine
# without instruments: it must walk the driver's interface class, try "\\.\vkusb-0", print
# "Instrument is not connected." and exit 4 (no instrument); packs and checks the zip archive.
# Then the window, rovenza.exe, on a virtual display: tests/winui's driver starts it with the
# command-line switches against the simulated bench, checks its controls through the Win32
# API, answers its dialogs and takes screenshots into the CI log folder ($ROVENZA_CI_LOGS, by
# default the build folder's ci-logs/window).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ROVENZA_WIN_BUILD:-$root/build-win}
jobs=${ROVENZA_JOBS:-2}
cd "$root"

# --- Debian packages ---------------------------------------------------------------------------
bash scripts/apt-install.sh cmake ninja-build pkg-config dpkg-dev googletest \
  gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
  mingw-w64-x86-64-dev wine wine64 fonts-wine nlohmann-json3-dev xvfb

# --- Third-party libraries and the cross build -------------------------------------------------
bash scripts/windows-deps.sh
deps_prefix=${ROVENZA_WIN_DEPS:-$root/build-win-deps}/prefix
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DROVENZA_WIN_DEPS_PREFIX="$deps_prefix" \
  -DROVENZA_BUILD_GUI=OFF -DROVENZA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target rovenza-cli rovenza make-fwu \
  rovenza_unit_tests rovenza_package_tests rovenza_win32_tests rovenza_window_driver

# The device set-up interface is bound by name at run time, never linked.
for exe in src/cli/rovenza-cli.exe src/app/win32/rovenza.exe; do
  if x86_64-w64-mingw32-objdump -p "$build/$exe" | grep -qi 'DLL Name: *setupapi'; then
    echo "windows-test: $exe links SetupApi.dll" >&2
    exit 1
  fi
done

# --- A virtual display for the whole wine run, so that every wine process shares it ----------
# Xvfb picks a free display number and writes it to the file.
rm -f "$build/xvfb.display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$build/xvfb.display" >"$build/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
for _ in $(seq 300); do [ -s "$build/xvfb.display" ] && break; sleep 0.1; done
[ -s "$build/xvfb.display" ] || { echo "windows-test: Xvfb did not start" >&2; cat "$build/xvfb.log" >&2; exit 1; }
export DISPLAY=:$(tr -d '\n' <"$build/xvfb.display")

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
trap '"$wineserver" -k 2>/dev/null || true; kill "$xvfb" 2>/dev/null || true' EXIT
wine wineboot --init >"$build/wineboot.log" 2>&1 || { cat "$build/wineboot.log" >&2; exit 1; }
# The fonts a Windows desktop has: Tahoma for the windows, Marlett for the title-bar buttons.
cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf /usr/share/wine/fonts/marlett.ttf \
  "$WINEPREFIX/drive_c/windows/Fonts/"
# Every window inside one desktop that wine draws itself, title bars included.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null 2>&1

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
# CPack's ZIP generator over the install rules: rovenza-cli-<version>-win64.zip holds the
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
for f in rovenza-cli.exe rovenza.exe make-fwu.exe README.md licenses/README.txt licenses/zlib.txt licenses/libzip.txt; do
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

# --- The window on the virtual display ---------------------------------------------------------
ui=$build/ui-check
logs=${ROVENZA_CI_LOGS:-$build/ci-logs}/window
rm -rf "$ui" "$logs" && mkdir -p "$ui" "$logs"
for family in vk101 velkaro zenara; do
  (cd "$build" && wine tools/make-fwu.exe --demo $family "ui-check/$family.fwu" >/dev/null)
done
ui_status=0
(cd "$build" && timeout 300 wine tests/rovenza_window_driver.exe 'src\app\win32\rovenza.exe' ui-check 'ui-check') \
  >"$logs/driver.log" 2>&1 || ui_status=$?
cp "$ui"/*.png "$logs/" 2>/dev/null || true
tr -d '\r' <"$logs/driver.log" | grep -E '^(FAIL|measured:)' || true
summary=$(tr -d '\r' <"$logs/driver.log" | tail -n 1)
echo "windows-test: rovenza.exe under wine: $summary; screenshots and the driver's log in $logs"
if [ "$ui_status" -ne 0 ]; then
  echo "windows-test: the window's checks failed (status $ui_status)" >&2
  exit 1
fi
