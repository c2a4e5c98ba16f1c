#!/usr/bin/env bash
# install_test.sh BUILD_DIR SOURCE_DIR
# Checks, as an ordinary user:
#  1. `cmake --install BUILD --prefix ~/.local` needs no root, writes the
#     per-user store and nothing else outside the home folder; the main job and
#     the VOD job run on the sample with it; the desktop file and the man pages
#     pass desktop-file-validate and man -l.
#  2. A system-wide installation (installed by root in a temporary prefix, its
#     store standing in for /etc/quarvel.conf) is never changed by the user's
#     runs; a run names --make-user-install, which makes a per-user install
#     folder from it and records it in the per-user store; that folder then
#     serves both jobs, with the option and in later runs without it.
#  3. A package build (DESTDIR) writes its store below DESTDIR.
#  4. A store the user cannot read is left as it was.
#  5. The programs are installed stripped, and the README's way to uninstall
#     removes every file the install made.
set -euo pipefail
build="$(cd "$1" && pwd)"
source="$(cd "$2" && pwd)"
shopt -s nullglob
user=quarvel-install-test
work="$(mktemp -d "${TMPDIR:-/tmp}/quarvel-install-test.XXXXXX")"
chmod 755 "$work"
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
granted=()
cleanup() {
  # The user's files are removed by root (or by the user itself).
  chmod -R u+rwX "$work" 2>/dev/null || true
  rm -rf "$work"
  for folder in "${granted[@]}"; do setfacl -x "u:$user" "$folder" || true; done
}
trap cleanup EXIT

for tool in desktop-file-validate man iconv readelf; do
  command -v "$tool" >/dev/null || { echo "$tool is needed (tools/install-deps.sh test)" >&2; exit 1; }
done

home="$work/home"
mkdir -p "$home"
if [ "$(id -u)" -eq 0 ]; then
  # (Another run may make it at the same moment.)
  id "$user" >/dev/null 2>&1 || useradd --system --no-create-home --home-dir /nonexistent --shell /bin/bash "$user" ||
    id "$user" >/dev/null
  chown "$user:" "$home"
  # cmake --install records what it installed in the build folder; the user
  # builds there in real life, so let it write that one file.
  touch "$build/install_manifest.txt"
  chown "$user:" "$build/install_manifest.txt"
  as_user() { runuser -u "$user" -- env -i PATH=/usr/bin:/bin HOME="$home" LANG=C.UTF-8 TZ=UTC "$@"; }
else
  as_user() { env -i PATH=/usr/bin:/bin HOME="$home" LANG=C.UTF-8 TZ=UTC "$@"; }
fi
[ "$(as_user id -u)" -ne 0 ] || { echo "the test user must not be root" >&2; exit 1; }

# The user reads the build and the sources. A clone in a private folder
# (/root, or a mktemp folder) lets the user pass through the folders above
# them for the test's time only, by an ACL entry removed at the end.
let_user_through() {
  local path="" part
  local IFS=/
  for part in $1; do
    [ -n "$part" ] || continue
    path="$path/$part"
    if ! as_user test -x "$path"; then
      setfacl -m "u:$user:x" "$path"
      granted+=("$path")
    fi
  done
}
if [ "$(id -u)" -eq 0 ]; then
  let_user_through "$build"
  let_user_through "$source"
  let_user_through "$work"
fi
as_user test -r "$build/cmake_install.cmake" -a -r "$source/README.md" ||
  { echo "the test user cannot read $build or $source" >&2; exit 1; }

# A listing of every file below a folder with its bytes' digest, mode and owner.
tree_state() { (cd "$1" && find . -printf '%p %y %m %u %s\n' -type f -exec md5sum {} + | sort); }
etc_state() { ls -la --time-style=full-iso /etc/quarvel.conf 2>&1 || true; md5sum /etc/quarvel.conf 2>&1 || true; }
etc_before="$(etc_state)"

# Runs quarvel-batch as the user; prints its exit status.
run_batch() {
  local status=0
  as_user "$@" >"$work/out.txt" 2>"$work/err.txt" || status=$?
  echo "$status"
}

# The main job and the VOD job on copies of the sample, with the store the
# environment names; checks the outputs in the courses, the patch log and
# "vod packages" of `install`.
check_jobs() {
  local label="$1" install="$2" samples="$3"
  shift 3
  local courses="$home/$label-courses" videos="$home/$label-videos" status
  as_user cp -r "$samples/sample-courses" "$courses"
  as_user cp -r "$samples/sample-videos" "$videos"
  status=$(run_batch "$@" "$courses")
  [ "$status" -eq 0 ] || fail "$label: main job exit $status: $(cat "$work/out.txt" "$work/err.txt")"
  grep -qxF "Course Bundle Patch Status: Check '$install/nb_logfile.txt' for course bundle error status." "$work/out.txt" ||
    fail "$label: main job closing message: $(cat "$work/out.txt")"
  [ -f "$install/nb_logfile.txt" ] && iconv -f UTF-16 -t UTF-8 "$install/nb_logfile.txt" | grep -q "$courses/intro101/xml" ||
    fail "$label: the patch log in $install does not list the patched courses"
  for course in fire101 intro101 safety201; do
    [ -f "$courses/$course/imsmanifest.xml" ] || fail "$label: no manifest written in $course"
  done
  status=$(run_batch "$@" createVodPackages=true "$videos")
  [ "$status" -eq 0 ] || fail "$label: VOD job exit $status: $(cat "$work/out.txt" "$work/err.txt")"
  local packages
  packages=$(find "$install/vod packages" -name imsmanifest.xml 2>/dev/null | wc -l)
  [ "$packages" -gt 0 ] || fail "$label: no VOD package in '$install/vod packages'"
}

# 1. Per-user install with --prefix ~/.local.
prefix="$home/.local"
as_user cmake --install "$build" --prefix "$prefix" >"$work/install-user.log" 2>&1 ||
  fail "cmake --install --prefix ~/.local as the user: $(tail -5 "$work/install-user.log")"
store="$home/.config/quarvel/quarvel.conf"
[ "$(cat "$store" 2>/dev/null)" = "NB Path=$prefix/share/quarvel/install" ] ||
  fail "per-user store: '$(cat "$store" 2>/dev/null)'"
if [ -x "$build/bin/quarvel" ]; then
  desktop-file-validate "$prefix/share/applications/quarvel.desktop" || fail "desktop-file-validate"
  grep -qx "Exec=$prefix/bin/quarvel" "$prefix/share/applications/quarvel.desktop" || fail "launcher's Exec line"
  for size in 16x16 32x32 48x48 64x64 128x128 256x256 scalable; do
    compgen -G "$prefix/share/icons/hicolor/$size/apps/quarvel.*" >/dev/null || fail "no $size icon"
  done
  [ -f "$prefix/share/man/man1/quarvel.1" ] || fail "no quarvel(1)"
else
  echo "note: built without the desktop program; its launcher, icon and page are not checked"
  [ ! -e "$prefix/share/applications/quarvel.desktop" ] || fail "a launcher for a program not installed"
fi
[ ! -f "$source/docs/quarvel-batch.1" ] || [ -f "$prefix/share/man/man1/quarvel-batch.1" ] || fail "no quarvel-batch(1)"
for page in "$prefix"/share/man/man1/*.1; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man -l $page"
  [ -z "$warnings" ] || fail "man -l $page: $warnings"
done
for doc in README.md copyright; do
  [ -f "$prefix/share/doc/quarvel/$doc" ] || fail "no share/doc/quarvel/$doc"
done
check_jobs user "$prefix/share/quarvel/install" "$prefix/share/quarvel" "$prefix/bin/quarvel-batch"
for program in "$prefix"/bin/*; do
  ! readelf -S -W "$program" | grep -qE ' \.(debug_[a-z_]+|symtab) ' || fail "$program is installed with its symbols"
done
# 5. Uninstalling as the README says leaves none of the files the install listed.
installed="$(wc -l <"$build/install_manifest.txt")"
[ "$installed" -gt 10 ] && grep -qxF "$prefix/bin/quarvel-batch" "$build/install_manifest.txt" ||
  fail "the install manifest does not list the install: $(head -3 "$build/install_manifest.txt")"
as_user sh -c "xargs -d '\n' rm -f -- <'$build/install_manifest.txt'" || fail "the README's uninstall command failed"
while IFS= read -r file; do
  [ ! -e "$file" ] || fail "left after uninstalling: $file"
done <"$build/install_manifest.txt"

# 2. System-wide installation, installed by root (or by this user before the
# folder is made read-only), not writable by the user.
system="$work/system"
system_store="$work/etc/quarvel.conf"
mkdir -p "$work/etc"
QUARVEL_CONFIG="$system_store" cmake --install "$build" --prefix "$system" >"$work/install-system.log" 2>&1 ||
  fail "system-wide install: $(tail -5 "$work/install-system.log")"
[ "$(id -u)" -eq 0 ] || chmod -R a-w "$system" "$work/etc"
system_before="$(tree_state "$system")"
store_before="$(tree_state "$work/etc")"
rm -rf "$home/.config" "$home/.local"
user_install="$home/.local/share/quarvel/install"
user_store="$home/.config/quarvel/quarvel.conf"
status=$(run_batch QUARVEL_CONFIG="$system_store" "$system/bin/quarvel-batch" "$home")
[ "$(tree_state "$system")" = "$system_before" ] || fail "a run with the system-wide installation changed it"
# Without the option the run says how to get a folder of one's own, and makes none.
grep -qF "cannot be written" "$work/err.txt" && grep -qF -- "--make-user-install" "$work/err.txt" &&
  grep -qF "'$user_install'" "$work/err.txt" || fail "no word of --make-user-install: $(cat "$work/err.txt")"
[ ! -e "$home/.local" ] && [ ! -e "$home/.config" ] || fail "a per-user folder or store made without the option"
# --make-user-install makes the user's own install folder and records it; both
# jobs then write there (the VOD run, with the option again, changes nothing of it).
check_jobs shared "$user_install" "$system/share/quarvel" \
  QUARVEL_CONFIG="$system_store" "$system/bin/quarvel-batch" --make-user-install
[ "$(cat "$user_store" 2>/dev/null)" = "NB Path=$user_install" ] || fail "per-user store: '$(cat "$user_store" 2>/dev/null)'"
[ -d "$user_install/web" ] && [ -d "$user_install/buttons png" ] || fail "the per-user install folder lacks web or buttons png"
# A later run finds the per-user store by itself and asks nothing.
check_jobs own "$user_install" "$system/share/quarvel" "$system/bin/quarvel-batch"
! grep -qF "cannot be written" "$work/err.txt" || fail "a later run still offers: $(cat "$work/err.txt")"
[ "$(tree_state "$system")" = "$system_before" ] || fail "the system-wide installation was changed"
[ "$(tree_state "$work/etc")" = "$store_before" ] || fail "the system-wide store was changed"

# 3. A package build (DESTDIR, --prefix /usr) records the packaged folder in
# its own etc/quarvel.conf. Made as the user, so that it cannot reach /usr
# or /etc even if DESTDIR were ignored.
dest="$home/package"
as_user mkdir "$dest"
as_user env DESTDIR="$dest" cmake --install "$build" --prefix /usr >"$work/install-package.log" 2>&1 ||
  fail "DESTDIR install: $(tail -5 "$work/install-package.log")"
[ "$(cat "$dest/etc/quarvel.conf" 2>/dev/null)" = "NB Path=/usr/share/quarvel/install" ] ||
  fail "package store: '$(cat "$dest/etc/quarvel.conf" 2>/dev/null)'"
[ ! -x "$build/bin/quarvel" ] || grep -qx "Exec=/usr/bin/quarvel" "$dest/usr/share/applications/quarvel.desktop" ||
  fail "packaged launcher's Exec line"
[ -z "$(cd "$dest" && find . -mindepth 1 -maxdepth 1 ! -name usr ! -name etc)" ] || fail "DESTDIR install wrote elsewhere"

# 4. A store the user cannot read (mode 0200, the user's own) is left whole.
printf 'NB Path=%s\nxAPI Host=lms.example\n' "$user_install" >"$work/unreadable.conf"
[ "$(id -u)" -ne 0 ] || chown "$user:" "$work/unreadable.conf"
chmod 0200 "$work/unreadable.conf"
status=$(run_batch QUARVEL_CONFIG="$work/unreadable.conf" "$system/bin/quarvel-batch" "$home/user-courses")
chmod 0600 "$work/unreadable.conf"
[ "$(cat "$work/unreadable.conf")" = "$(printf 'NB Path=%s\nxAPI Host=lms.example' "$user_install")" ] ||
  fail "an unreadable store was changed to: $(cat "$work/unreadable.conf")"
[ "$status" -ne 0 ] || fail "a run with an unreadable store reported success"

# Nothing outside the test's folder: the real system store is as it was.
[ "$(etc_state)" = "$etc_before" ] || fail "/etc/quarvel.conf changed"

if [ "$failures" -ne 0 ]; then
  echo "$failures failures; logs: $work" >&2
  trap - EXIT
  exit 1
fi
echo "install test passed"
