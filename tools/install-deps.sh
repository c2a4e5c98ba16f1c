#!/usr/bin/env bash
# Installs the Debian packages Quarvel needs, when missing.
#   tools/install-deps.sh build   what building and running both programs needs (the demo)
#   tools/install-deps.sh test    that and what the tests need (the default)
set -euo pipefail
what="${1:-test}"
# GoogleTest's sources are here too: configuring the build folder looks for
# them, and one build folder serves the demo and the tests.
build=(g++ cmake ninja-build ccache qt6-base-dev qt6-qpa-plugins libgtest-dev libgmock-dev)
# Upload packages (zip) and the schema check of generated files.
build+=(pkg-config libzip-dev libxml2-dev)
# Test programs, the browser and schema checks, fault injection, sanitizer and
# fuzz builds, the install test (a user, desktop file and man page checks, ACLs).
test=(libxml2-utils unzip xvfb xauth chromium nodejs npm strace time clang-14
      libclang-rt-14-dev e2fsprogs xfsprogs attr clang-format-14 desktop-file-utils man-db passwd util-linux acl
      openbox xdotool imagemagick x11-utils)
# The Windows build (tools/windows.sh): the cross compiler, Wine to run its
# tests, NSIS for its installer, GoogleTest's sources to cross-build; zlib for
# it, and what unpacks the Debian source packages of libzip and libxml2 it
# builds (cmake/windows-deps.sh).
test+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 nsis googletest libz-mingw-w64-dev
       dpkg-dev xz-utils debian-archive-keyring)
case "$what" in
  build) packages=("${build[@]}") ;;
  test) packages=("${build[@]}" "${test[@]}") ;;
  *) echo "usage: $0 [build|test]" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
  # A program of that name from elsewhere will do (npm comes with some nodejs builds).
  [[ $p == npm ]] && type -P npm >/dev/null && continue
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
