#!/usr/bin/env bash
# The libraries the Windows build links statically besides the compiler's own:
# libzip (upload packages) and libxml2 (the schema check), cross-built with the
# mingw-w64 toolchain from Debian's source packages for this machine's Debian
# release, and zlib from Debian's libz-mingw-w64-dev.
#   cmake/windows-deps.sh DEPS_DIR TOOLCHAIN_FILE RECIPE
# Builds DEPS_DIR/libzip-VERSION and DEPS_DIR/libxml2-VERSION (install
# prefixes) and writes DEPS_DIR/deps.cmake naming them, with RECIPE (what
# cmake/WindowsDeps.cmake compares to tell whether they are up to date). The sources come with
# apt-get through a sources list, state and cache folders of DEPS_DIR's own:
# the machine's apt configuration is read, never changed. CMake runs this when
# DEPS_DIR/deps.cmake is missing or names another recipe.
# QUARVEL_JOBS sets the compile jobs (default 2).
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 DEPS_DIR TOOLCHAIN_FILE RECIPE" >&2
  exit 2
fi
deps=$(mkdir -p "$1" && cd "$1" && pwd)
toolchain=$(cd "$(dirname "$2")" && printf '%s/%s' "$PWD" "$(basename "$2")")
recipe=$3
jobs=${QUARVEL_JOBS:-2}
triplet=x86_64-w64-mingw32
zlib=/usr/$triplet/lib/libz.a
logs=$deps/logs
start=$SECONDS

fail() {
  echo "windows-deps: $*" >&2
  exit 1
}

for tool in apt-get dpkg-source "$triplet-gcc-posix" cmake ninja; do
  type -P "$tool" >/dev/null || fail "'$tool' is missing: run tools/install-deps.sh"
done
[ -f "$zlib" ] || fail "$zlib is missing (package libz-mingw-w64-dev): run tools/install-deps.sh"
# shellcheck source=/dev/null
codename=$(. /etc/os-release && [ "${ID:-}" = debian ] && printf '%s' "${VERSION_CODENAME:-}") || true
[ -n "$codename" ] || fail "the sources are taken from this machine's Debian release, and /etc/os-release names none"

rm -rf "$logs" "$deps/src" "$deps/build" "$deps/deps.cmake" "$deps"/libzip-* "$deps"/libxml2-*
mkdir -p "$logs" "$deps/src" "$deps/build"

# show_log STEP LOG: why STEP failed, from the end of its log.
show_log() {
  echo "windows-deps: $1 failed; the end of $2:" >&2
  tail -n 25 "$2" | sed 's/^/    /' >&2
}

# A private apt: Debian's source indexes for this release alone, signed by
# Debian's archive key.
apt_dir=$deps/apt
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/state/lists/partial" "$apt_dir/cache/archives/partial"
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
signed=""
[ -f "$keyring" ] && signed=" [signed-by=$keyring]"
cat >"$apt_dir/sources.list" <<EOF
deb-src$signed http://deb.debian.org/debian $codename main
deb-src$signed http://deb.debian.org/debian $codename-updates main
deb-src$signed http://deb.debian.org/debian-security $codename-security main
EOF
apt_options=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
  -o "Dir::State=$apt_dir/state" -o "Dir::Cache=$apt_dir/cache" -o Acquire::Retries=3)
# As root apt hands downloads to its own user, who may not write here.
[ "$(id -u)" -ne 0 ] || apt_options+=(-o APT::Sandbox::User=root)
if ! apt-get "${apt_options[@]}" update >"$logs/apt-update.log" 2>&1 ||
  grep -qE '^(W|E): (Failed to fetch|Some index files failed)' "$logs/apt-update.log"; then
  show_log "fetching Debian's source index for $codename (apt-get update)" "$logs/apt-update.log"
  fail "Debian's archive could not be reached; the Windows build needs the sources of libzip and libxml2 from it"
fi

# fetch PACKAGE: the source package unpacked with Debian's patches applied into
# DEPS_DIR/src/PACKAGE; prints its version.
fetch() {
  local package=$1 dsc
  mkdir "$deps/src/$package"
  if ! (cd "$deps/src/$package" && apt-get "${apt_options[@]}" source "$package") >"$logs/$package-fetch.log" 2>&1; then
    show_log "fetching the source package $package (apt-get source)" "$logs/$package-fetch.log"
    fail "the source package $package could not be fetched or unpacked"
  fi
  dsc=$(cd "$deps/src/$package" && ls "${package}"_*.dsc)
  dsc=${dsc#"${package}"_}
  printf '%s' "${dsc%.dsc}"
}

# configure PACKAGE CMAKE_OPTION ...: configures the unpacked PACKAGE. Both
# packages are configured at once: their many checks take one core each.
configure() {
  local package=$1
  shift
  local source
  source=$(find "$deps/src/$package" -mindepth 1 -maxdepth 1 -type d | head -n 1)
  local launcher=()
  if type -P ccache >/dev/null; then launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
  nice cmake -S "$source" -B "$deps/build/$package" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF "${launcher[@]}" "$@" >"$logs/$package-configure.log" 2>&1
}
# compile PACKAGE PREFIX: builds the configured PACKAGE and installs it into PREFIX.
compile() {
  local package=$1 prefix=$2
  nice cmake --build "$deps/build/$package" -j"$jobs" >"$logs/$package-build.log" 2>&1 &&
    cmake --install "$deps/build/$package" --prefix "$prefix" >>"$logs/$package-build.log" 2>&1
}

zip_version=$(fetch libzip)
xml_version=$(fetch libxml2)
zip_prefix=$deps/libzip-$zip_version
xml_prefix=$deps/libxml2-$xml_version

# libzip without bzip2, lzma, zstd and the encryption libraries: the upload
# packages are deflated only, with zlib linked statically.
configure libzip -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DENABLE_COMMONCRYPTO=OFF \
  -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF -DENABLE_OPENSSL=OFF -DENABLE_WINDOWS_CRYPTO=OFF -DBUILD_TOOLS=OFF \
  -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF -DZLIB_LIBRARY="$zlib" \
  -DZLIB_INCLUDE_DIR="/usr/$triplet/include" &
zip_configure=$!
# libxml2 with what parsing and schema validation need: no network (HTTP,
# FTP), no character set converters beyond its own, no compressed input, no
# catalogues, programs or bindings.
configure libxml2 -DLIBXML2_WITH_FTP=OFF -DLIBXML2_WITH_HTTP=OFF -DLIBXML2_WITH_ICONV=OFF -DLIBXML2_WITH_ICU=OFF \
  -DLIBXML2_WITH_LZMA=OFF -DLIBXML2_WITH_ZLIB=OFF -DLIBXML2_WITH_CATALOG=OFF -DLIBXML2_WITH_MODULES=OFF \
  -DLIBXML2_WITH_PROGRAMS=OFF -DLIBXML2_WITH_TESTS=OFF -DLIBXML2_WITH_PYTHON=OFF -DLIBXML2_WITH_C14N=OFF \
  -DLIBXML2_WITH_DEBUG=OFF -DLIBXML2_WITH_DOCB=OFF -DLIBXML2_WITH_HTML=OFF -DLIBXML2_WITH_LEGACY=OFF \
  -DLIBXML2_WITH_SCHEMATRON=OFF -DLIBXML2_WITH_XINCLUDE=OFF -DLIBXML2_WITH_XPTR=OFF -DLIBXML2_WITH_XPATH=OFF \
  -DLIBXML2_WITH_READER=OFF -DLIBXML2_WITH_WRITER=OFF || {
  wait "$zip_configure" || true
  show_log "configuring libxml2 $xml_version" "$logs/libxml2-configure.log"
  fail "libxml2 could not be configured"
}
wait "$zip_configure" || {
  show_log "configuring libzip $zip_version" "$logs/libzip-configure.log"
  fail "libzip could not be configured"
}
compile libzip "$zip_prefix" || {
  show_log "building libzip $zip_version" "$logs/libzip-build.log"
  fail "libzip could not be built"
}
compile libxml2 "$xml_prefix" || {
  show_log "building libxml2 $xml_version" "$logs/libxml2-build.log"
  fail "libxml2 could not be built"
}

cat >"$deps/deps.cmake" <<EOF
# Written by cmake/windows-deps.sh.
set(QUARVEL_WINDOWS_DEPS_RECIPE "$recipe")
set(QUARVEL_LIBZIP_VERSION "$zip_version")
set(QUARVEL_LIBZIP_PREFIX "$zip_prefix")
set(QUARVEL_LIBXML2_VERSION "$xml_version")
set(QUARVEL_LIBXML2_PREFIX "$xml_prefix")
set(QUARVEL_ZLIB_LIBRARY "$zlib")
EOF
rm -rf "$deps/src" "$deps/build" "$apt_dir"
# (Standard error: the build scripts keep configure quiet.)
echo "windows-deps: libzip $zip_version and libxml2 $xml_version built in $((SECONDS - start)) s" >&2
