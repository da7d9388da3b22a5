#!/usr/bin/env bash
# The installed program, checked on Debian from the default build (scripts/test.sh builds it):
#  1. `cmake --install` into a fresh prefix lays out the expected tree; the desktop entry, the
#     AppStream metainfo and the manual pages pass their validators.
#  2. `cpack -G DEB` makes the Debian package; its Depends (from dpkg-shlibdeps) name the package
#     of every library the installed programs load.
#  3. dpkg installs it into a clean root (no container: `dpkg --root` over a database that lists
#     this machine's packages, so dpkg itself checks the Depends against them), and the programs
#     run from there with the machine's libraries: --version, make-fwu --demo, and an upgrade on
#     the simulated bench that keeps its work folder in the user's cache folder.
# Prints the sizes of what it made. ROVENZA_PACKAGE_BUILD names another build folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ROVENZA_PACKAGE_BUILD:-$root/build/default}
jobs=${ROVENZA_JOBS:-2}
cd "$root"

bash scripts/apt-install.sh dpkg-dev desktop-file-utils appstream man-db librsvg2-bin

[ -f "$build/CMakeCache.txt" ] || cmake --preset default >/dev/null
# Everything: CPack builds the whole build folder before it installs (a no-op after test.sh).
cmake --build "$build" -j "$jobs" >/dev/null
version=$("$build/src/cli/rovenza-cli" --version | awk '{ print $2 }')

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package-test: $*" >&2; exit 1; }

# The files every installation holds, below its prefix.
expected_tree() {
  printf '%s\n' bin/make-fwu bin/rovenza bin/rovenza-cli \
    share/applications/rovenza.desktop share/doc/rovenza/README.md \
    share/icons/hicolor/scalable/apps/rovenza.svg \
    share/man/man1/make-fwu.1.gz share/man/man1/rovenza-cli.1.gz share/man/man1/rovenza.1.gz \
    share/metainfo/io.github.rovenza.rovenza.metainfo.xml
  for size in 16 32 48 64 128 256; do echo "share/icons/hicolor/${size}x${size}/apps/rovenza.png"; done
}
# The files below folder $1, relative to it, sorted.
tree_of() { (cd "$1" && find . -type f -o -type l) | sed 's|^\./||' | sort; }
same_tree() {  # what, folder
  if ! diff <(expected_tree | sort) <(tree_of "$2") >"$work/tree.diff"; then
    cat "$work/tree.diff" >&2
    fail "$1: the installed files differ from the expected ones (< expected, > installed)"
  fi
}
# The desktop entry, the metainfo and the manual pages under prefix $1.
validate() {
  local prefix=$1 page
  desktop-file-validate "$prefix/share/applications/rovenza.desktop" || fail "rovenza.desktop is not valid"
  appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/io.github.rovenza.rovenza.metainfo.xml" \
    >"$work/appstream.txt" 2>&1 || { cat "$work/appstream.txt" >&2; fail "the metainfo is not valid"; }
  grep -q "<release version=\"$version\"" "$prefix/share/metainfo/io.github.rovenza.rovenza.metainfo.xml" ||
    fail "the metainfo's newest release is not $version"
  for page in "$prefix"/share/man/man1/*.1.gz; do
    # man-db reports groff's warnings on standard error; any of them fails the page.
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>"$work/man.txt" >"$work/man-page.txt" ||
      fail "$(basename "$page"): man failed"
    [ ! -s "$work/man.txt" ] || { cat "$work/man.txt" >&2; fail "$(basename "$page"): warnings"; }
    grep -q "Rovenza $version" "$work/man-page.txt" || fail "$(basename "$page") is not of version $version"
  done
}

# --- 1. cmake --install ------------------------------------------------------------------------
cmake --install "$build" --prefix "$work/prefix" --strip >/dev/null
same_tree "cmake --install" "$work/prefix"
validate "$work/prefix"
# Every option a program's usage names is in its manual page.
for program in rovenza-cli make-fwu rovenza; do
  zcat "$work/prefix/share/man/man1/$program.1.gz" | sed 's/\\-/-/g' >"$work/$program.1"
  for option in $("$work/prefix/bin/$program" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    grep -qF -- "$option" "$work/$program.1" || fail "$program(1) does not document $option"
  done
done
echo "package-test: cmake --install laid out $(expected_tree | wc -l) files; desktop entry, metainfo and manual pages valid"

# --- 2. The Debian package ---------------------------------------------------------------------
mkdir -p "$build/packages"
rm -f "$build"/packages/rovenza_*.deb
(cd "$build" && cpack -G DEB -B "$build/packages" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$build"/packages/rovenza_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
echo "package-test: $(basename "$deb"): Depends: $depends"
# The package of every library that a program links (its NEEDED entries) is among the Depends.
depend_names=$(sed -E 's/ *\([^)]*\)//g; s/ *[|,] */\n/g' <<<"$depends")
dpkg-deb -x "$deb" "$work/unpacked"
for program in "$work"/unpacked/usr/bin/*; do
  for library in $(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    # The file the loader takes, under the name dpkg knows it by (with or without /usr).
    path=$(ldd "$program" | awk -v l="$library" '$1 == l { print $3 }')
    owner=""
    for candidate in "$path" "$(readlink -f "$path")" "${path#/usr}" "/usr$path"; do
      owner=$(dpkg -S "$candidate" 2>/dev/null | head -n 1 | cut -d: -f1) && [ -n "$owner" ] && break
    done
    [ -n "$owner" ] || fail "$(basename "$program"): no package holds $library"
    grep -qxF "$owner" <<<"$depend_names" ||
      fail "$(basename "$program") links $library of $owner, which the Depends do not name"
  done
done

# --- 3. dpkg -i into a clean root --------------------------------------------------------------
# The root's database lists this machine's packages (with empty file lists), so that dpkg checks
# the Depends against what is installed here; the root itself holds nothing but the package.
target=$work/root
mkdir -p "$target/var/lib/dpkg/info" "$target/var/lib/dpkg/updates" "$target/var/lib/dpkg/triggers"
cp /var/lib/dpkg/status "$target/var/lib/dpkg/status"
: >"$target/var/lib/dpkg/available"
dpkg-query -W -f '${binary:Package}\n' | while read -r p; do : >"$target/var/lib/dpkg/info/$p.list"; done
# --path-include: every file, whatever this machine's dpkg configuration leaves out.
dpkg --root="$target" --path-include='*' --force-not-root --force-script-chrootless --no-triggers --log=/dev/null -i "$deb" \
  >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -i failed"; }
rm -rf "$target/var"
same_tree "dpkg -i" "$target/usr"
validate "$target/usr"

# The installed programs, with the machine's own loader and libraries, as a user whose home is
# fresh: the work folder goes to the user's cache folder, nothing beside the programs.
home=$work/home
mkdir -p "$home"
run() { env -u XDG_CACHE_HOME -u XDG_DATA_HOME HOME="$home" "$@"; }
out=$(run "$target/usr/bin/rovenza-cli" --version)
[ "$out" = "rovenza-cli $version" ] || fail "rovenza-cli --version said \"$out\""
out=$(run "$target/usr/bin/rovenza" --version)
[ "$out" = "rovenza $version" ] || fail "rovenza --version said \"$out\""
(cd "$work" && run "$target/usr/bin/make-fwu" --demo vk101 vk101.fwu >/dev/null)
status=0
out=$(cd "$work" && run "$target/usr/bin/rovenza-cli" --simulate --quiet \
  '\D' "VK101 Power Controller" '\F' vk101.fwu '\U' 2>"$work/cli.err") || status=$?
[ "$status" -eq 0 ] && [ "$out" = "Firmware upgrade successful!" ] ||
  { cat "$work/cli.err" >&2; fail "the installed rovenza-cli said \"$out\" and exited $status"; }
[ -f "$home/.cache/rovenza/Temp/pic_USB.hex" ] || fail "no work folder in ~/.cache/rovenza/Temp"
same_tree "dpkg -i, after a run" "$target/usr"
echo "package-test: the installed rovenza-cli $version upgraded a simulated VK101 from a make-fwu package; work folder ~/.cache/rovenza/Temp"

echo "package-test: $(basename "$deb"): $(stat -c %s "$deb") bytes ($(du -h "$deb" | cut -f1))"
echo "package-test: installed tree (prefix /usr):"
(cd "$target" && find usr -type f | sort | sed 's/^/  /')
