#!/usr/bin/env bash
# Installs the Debian packages Quarvel needs to build and test, when missing.
set -euo pipefail
packages=(g++ cmake ninja-build ccache libgtest-dev libgmock-dev qt6-base-dev libxml2-utils
          xvfb xauth chromium nodejs npm strace time clang-14 libclang-rt-14-dev e2fsprogs clang-format-14)
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
