#!/usr/bin/env bash
# Builds the third-party libraries of the Windows cross build (zlib, libzip, GoogleTest) with the
# mingw-w64 toolchain, as static libraries, into build-win-deps/prefix. Sources come from Debian
# only: zlib and libzip from their source packages (apt-get source), GoogleTest from the sources
# that the googletest package ships in /usr/src/googletest. Idempotent: what is built is kept.
#
# Needs the mingw-w64 compilers and dpkg-dev (scripts/windows-test.sh installs them). Adds a
# deb-src entry for the machine's Debian mirror when there is none (needs root, or sudo).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deps=${ROVENZA_WIN_DEPS:-$root/build-win-deps}
prefix=$deps/prefix
toolchain=$root/cmake/mingw-w64-x86_64.cmake
jobs=${ROVENZA_JOBS:-2}
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
mkdir -p "$deps/src" "$prefix"

log() { echo "windows-deps: $*" >&2; }

# --- Debian source entries -------------------------------------------------------------------
# A deb-src twin of every Debian "deb" entry, in a file of its own, so apt-get source works.
have_deb_src() {
  grep -qsE '^[[:space:]]*deb-src[[:space:]]' /etc/apt/sources.list /etc/apt/sources.list.d/*.list ||
    grep -qsE '^[[:space:]]*Types:.*deb-src' /etc/apt/sources.list.d/*.sources
}
add_deb_src() {
  local out
  if compgen -G "/etc/apt/sources.list.d/*.sources" >/dev/null &&
     grep -qsE '^URIs:.*debian' /etc/apt/sources.list.d/*.sources; then
    out=/etc/apt/sources.list.d/rovenza-deb-src.sources
    # deb822 stanzas of Debian's archives, with Types: deb turned into Types: deb-src.
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
         /(^|\n)Types:[^\n]*deb/ && /(^|\n)URIs:[^\n]*debian/ && !/(^|\n)Enabled: *no/ {
           gsub(/Types:[^\n]*/, "Types: deb-src"); print }' \
      /etc/apt/sources.list.d/*.sources | $SUDO tee "$out" >/dev/null
  else
    out=/etc/apt/sources.list.d/rovenza-deb-src.list
    grep -hsE '^[[:space:]]*deb[[:space:]].*debian' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
      sed -E 's/^([[:space:]]*)deb[[:space:]]/\1deb-src /' | $SUDO tee "$out" >/dev/null
  fi
  [ -s "$out" ] || { echo "windows-deps: no Debian entry found in the apt sources" >&2; exit 1; }
  log "added $out"
  $SUDO apt-get update -q >&2
}

# apt-get source of $1, trying the newest version first and then the release's own suites (some
# mirrors do not serve the security archive's source files). Unpacks into the current folder.
apt_source() {
  local pkg=$1 codename wanted
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  for wanted in "$pkg" "$pkg/$codename-updates" "$pkg/$codename"; do
    apt-get source -q "$wanted" >&2 2>/dev/null && return 0
  done
  return 1
}

# Unpacks Debian's source package $1 under src/ unless it is there; prints its folder.
fetch_source() {
  local pkg=$1 dir
  dir=$(find "$deps/src" -maxdepth 1 -mindepth 1 -type d -name "$pkg-[0-9]*" | sort | tail -n 1)
  if [ -z "$dir" ]; then
    have_deb_src || add_deb_src
    (cd "$deps/src" && apt_source "$pkg") ||
      { $SUDO apt-get update -q >&2 && (cd "$deps/src" && apt_source "$pkg"); } ||
      { echo "windows-deps: apt-get source $pkg failed" >&2; exit 1; }
    dir=$(find "$deps/src" -maxdepth 1 -mindepth 1 -type d -name "$pkg-[0-9]*" | sort | tail -n 1)
  fi
  [ -n "$dir" ] || { echo "windows-deps: no source of $pkg" >&2; exit 1; }
  echo "$dir"
}

cross_configure() {  # source folder, build folder, extra arguments...
  local src=$1 build=$2; shift 2
  rm -rf "$build"
  mkdir -p "$(dirname "$build")"
  cmake -S "$src" -B "$build" -G Ninja -Wno-dev -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DROVENZA_WIN_DEPS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" -DBUILD_SHARED_LIBS=OFF "$@" \
    >"$build.log" 2>&1 || { cat "$build.log" >&2; exit 1; }
}
cross_build() {  # build folder, cmake --build arguments...
  local build=$1; shift
  cmake --build "$build" -j "$jobs" "$@" >>"$build.log" 2>&1 || { tail -n 40 "$build.log" >&2; exit 1; }
}

# --- zlib --------------------------------------------------------------------------------------
if [ ! -f "$prefix/lib/libz.a" ]; then
  src=$(fetch_source zlib)
  log "building zlib from $(basename "$src")"
  cross_configure "$src" "$deps/build/zlib"
  # Only the static library: Debian's source lacks the DLL's resource file, and a DLL is not
  # wanted anyway. Installed by hand under the name that -lz finds.
  cross_build "$deps/build/zlib" --target zlibstatic
  mkdir -p "$prefix/include" "$prefix/lib/pkgconfig"
  cp "$deps/build/zlib/zconf.h" "$src/zlib.h" "$prefix/include/"
  cp "$deps/build/zlib/libzlibstatic.a" "$prefix/lib/libz.a"
  version=$(sed -nE 's/^#define ZLIB_VERSION "([^"]*)".*/\1/p' "$prefix/include/zlib.h")
  cat >"$prefix/lib/pkgconfig/zlib.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: zlib
Description: zlib compression library
Version: $version
Libs: -L\${libdir} -lz
Cflags: -I\${includedir}
EOF
else
  log "zlib: already built"
fi

# --- libzip ------------------------------------------------------------------------------------
if [ ! -f "$prefix/lib/libzip.a" ]; then
  src=$(fetch_source libzip)
  log "building libzip from $(basename "$src")"
  # Deflate and store only (the packages use nothing else); no crypto back end, no tools.
  cross_configure "$src" "$deps/build/libzip" \
    -DZLIB_INCLUDE_DIR="$prefix/include" -DZLIB_LIBRARY="$prefix/lib/libz.a" \
    -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF \
    -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF -DENABLE_OPENSSL=OFF \
    -DENABLE_WINDOWS_CRYPTO=OFF \
    -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF
  cross_build "$deps/build/libzip"
  cmake --install "$deps/build/libzip" >/dev/null
  pc="$prefix/lib/pkgconfig/libzip.pc"
  # A static libzip must be compiled against with ZIP_STATIC (no dllimport), and links zlib.
  grep -q 'ZIP_STATIC' "$pc" || sed -i -E 's/^Cflags:(.*)$/Cflags:\1 -DZIP_STATIC/' "$pc"
  grep -qE '^(Requires\.private|Libs\.private):.*(zlib|-lz)' "$pc" || echo "Requires.private: zlib" >>"$pc"
else
  log "libzip: already built"
fi

# --- GoogleTest --------------------------------------------------------------------------------
if [ ! -f "$prefix/lib/libgtest.a" ]; then
  [ -f /usr/src/googletest/CMakeLists.txt ] ||
    { echo "windows-deps: /usr/src/googletest is missing (package googletest)" >&2; exit 1; }
  log "building GoogleTest from /usr/src/googletest"
  cross_configure /usr/src/googletest "$deps/build/googletest" -DBUILD_GMOCK=ON
  cross_build "$deps/build/googletest"
  cmake --install "$deps/build/googletest" >/dev/null
else
  log "GoogleTest: already built"
fi

# --- Licences of what the programs link ------------------------------------------------------
# Beside the libraries, for the Windows archive: zlib's and libzip's from their sources, and
# Debian's copyright files of the MinGW-w64 runtime the programs are linked with statically
# (libstdc++, libgcc, the C runtime start-up code and winpthreads).
licenses=$prefix/share/licenses
mkdir -p "$licenses"
cp "$(fetch_source zlib)/LICENSE" "$licenses/zlib.txt"
cp "$(fetch_source libzip)/LICENSE" "$licenses/libzip.txt"
declare -A covers=([zlib.txt]="zlib" [libzip.txt]="libzip")
for library in libstdc++.a libgcc.a libgcc_eh.a libwinpthread.a libmingw32.a; do
  file=$(readlink -f "$(x86_64-w64-mingw32-g++-posix -print-file-name="$library")")
  owner=$(dpkg -S "$file" 2>/dev/null | head -n 1 | cut -d: -f1) ||
    { echo "windows-deps: no Debian package holds $file" >&2; exit 1; }
  cp "/usr/share/doc/$owner/copyright" "$licenses/$owner.txt"
  covers[$owner.txt]="${covers[$owner.txt]:+${covers[$owner.txt]}, }$library"
done
{
  echo "Licences of the libraries linked into rovenza-cli.exe and make-fwu.exe. The MinGW-w64"
  echo "runtime is linked statically; its texts are Debian's copyright files of its packages."
  for f in $(printf '%s\n' "${!covers[@]}" | sort); do echo "  $f: ${covers[$f]}"; done
} >"$licenses/README.txt"
log "licences: $(ls "$licenses" | tr '\n' ' ')"

log "prefix: $prefix"
