#!/usr/bin/env bash
# Checks the Windows installer under Wine, in a Wine prefix of its own:
# installs silently into a chosen folder, checks the registry value "NB Path"
# and the installed files, runs the installed quarvel-batch.exe over the
# installed sample courses with the install folder the installer recorded
# (once more with the upload packages and the schema check),
# then uninstalls silently and checks what is gone and what stays.
#   tests/windows/installer.sh [BUILD_DIR]     (default build-windows)
# Builds BUILD_DIR/quarvel-setup.exe first when it is missing or older than
# the programs or the installer's sources.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
# shellcheck source=tests/windows/lib.sh
. "$here/lib.sh"
build=$(cd "${1:-$source_dir/build-windows}" && pwd)
setup=$build/quarvel-setup.exe

if [ ! -f "$setup" ] || [ -n "$(find "$build/bin" "$source_dir/installer" "$source_dir/sample" \
  "$source_dir/res/schemas" "$source_dir/CMakeLists.txt" -newer "$setup" -print -quit)" ]; then
  "$source_dir/installer/build.sh" "$build"
fi

# A 32-bit installer does not start under a 64-bit-only Wine.
check "$setup is not a 64-bit program" \
  grep -q 'file format pei-x86-64' <(x86_64-w64-mingw32-objdump -f "$setup")

work=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-installer.XXXXXX")
trap 'wine_stop; rm -rf "$work"' EXIT
wine_start "$work/prefix"

# A folder with a space, not the default one: /D must be taken.
folder='C:\Quarvel Test\install'
unix_folder="$WINEPREFIX/drive_c/Quarvel Test/install"
# NSIS reads /D= unquoted to the end of the command line, as typed on Windows;
# one argument with a space would reach it in quotes, so the words go apart.
read -r -a words <<<"/D=$folder"
check "the installer failed" wine_run "$setup" /S "${words[@]}"

# registry_value: the "NB Path" value as reg prints it, or nothing.
registry_value() {
  wine reg query 'HKLM\Software\Nimbrel' /v 'NB Path' 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *NB Path *REG_SZ *//p'
}
recorded=$(registry_value)
check "NB Path is '$recorded', not '$folder'" test "$recorded" = "$folder"
# The 64-bit view: a 32-bit installer would have written below WOW6432Node.
check_not "NB Path was written below WOW6432Node" \
  wine reg query 'HKLM\Software\WOW6432Node\Nimbrel'

# installed_files: each file the installer puts in place, as "SOURCE<TAB>INSTALLED".
installed_files() {
  local from to rel
  while read -r from to; do
    (cd "$source_dir/$from" && find . -type f ! -name .gitattributes -print0) |
      while IFS= read -r -d '' rel; do
        printf '%s\t%s\n' "$source_dir/$from/${rel#./}" "$unix_folder${to:+/$to}/${rel#./}"
      done
  done <<'LIST'
sample/install
res/schemas schemas
sample/courses sample-courses
sample/videos sample-videos
LIST
  printf '%s\t%s\n' "$source_dir/README.md" "$unix_folder/doc/README.md"
  printf '%s\t%s\n' "$source_dir/docs/copyright" "$unix_folder/doc/copyright"
  # The programs as the installer took them (stripped of debugging sections).
  printf '%s\t%s\n' "$build/installer/quarvel-batch.exe" "$unix_folder/quarvel-batch.exe"
  if [ -f "$build/bin/quarvel.exe" ]; then
    printf '%s\t%s\n' "$build/installer/quarvel.exe" "$unix_folder/quarvel.exe"
  fi
}
installed_files >"$work/files"
count=$(wc -l <"$work/files")
while IFS=$'\t' read -r from to; do
  check "not installed as it is in the source: ${to#"$unix_folder"/}" cmp -s "$from" "$to"
done <"$work/files"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quarvel'
check "no uninstall entry in the registry" silent wine reg query "$uninstall_key" /v UninstallString
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Quarvel"
check "no Start-menu entry to uninstall" test -f "$menu/Uninstall Quarvel.lnk"
if [ -f "$build/bin/quarvel.exe" ]; then
  check "no Start-menu entry for the desktop program" test -f "$menu/Quarvel.lnk"
fi

# A run of the installed program, with the install folder as the registry gives it.
courses="$recorded\\sample-courses"
status=0
(cd "$work" && wine "$unix_folder/quarvel-batch.exe" "$courses" >run.out 2>run.err) || status=$?
wineserver -w
check "the installed quarvel-batch.exe ended with status $status: $(tr -d '\r' <"$work/run.err")" \
  test "$status" = 0
log="$unix_folder/nb_logfile.txt"
check "no patch log in the install folder" test -f "$log"
if [ -f "$log" ]; then iconv -f UTF-16LE -t UTF-8 "$log" | tr -d '\r' >"$work/log"; else : >"$work/log"; fi
check "the run's message does not name the patch log: $(tr -d '\r' <"$work/run.out")" \
  grep -qF "Check '$recorded\\nb_logfile.txt' for course bundle error status." "$work/run.out"
for bundle in "$source_dir"/sample/courses/*/; do
  name=$(basename "$bundle")
  check "the patch log does not list $name" grep -qxF "$courses\\$name\\xml" "$work/log"
  check "$name has no course page" test -f "$unix_folder/sample-courses/$name/$name.htm"
  check "$name has no manifest" test -f "$unix_folder/sample-courses/$name/imsmanifest.xml"
  check_not "$name/xml/interface.xml was not rewritten" \
    cmp -s "$bundle/xml/interface.xml" "$unix_folder/sample-courses/$name/xml/interface.xml"
done

# The installed schemas are where the program looks for them: a run that
# zips and checks the packages names the sample's one manifest its schema
# refuses (exit 3), and a zip for each course.
status=0
(cd "$work" && wine "$unix_folder/quarvel-batch.exe" zipPackages=true validatePackages=true "$courses" \
  >run.out 2>run.err) || status=$?
wineserver -w
check "the run with the schema check ended with status $status, not 3: $(tr -d '\r' <"$work/run.err")" \
  test "$status" = 3
if [ -f "$log" ]; then iconv -f UTF-16LE -t UTF-8 "$log" | tr -d '\r' >"$work/log"; else : >"$work/log"; fi
check_not "the installed schemas were not found" grep -qF "are missing or unreadable" "$work/log"
check "the schema check did not refuse hrs_fin_101's manifest" \
  grep -qF "'$courses\hrs_fin_101\imsmanifest.xml' does not pass the schema check" "$work/log"
for bundle in "$source_dir"/sample/courses/*/; do
  name=$(basename "$bundle")
  check "no upload package for $name" test -f "$unix_folder/upload packages/$name.zip"
done

# A catalogue a run appended to is the user's and stays; one as installed goes.
printf 'appended by a run\r\n' >>"$unix_folder/VOD info.txt"
check "the uninstaller failed" wine_run "$unix_folder/uninstall.exe" /S
check_not "NB Path is still in the registry: '$(registry_value)'" \
  wine reg query 'HKLM\Software\Nimbrel' /v 'NB Path'
check_not "the uninstall entry is left in the registry" wine reg query "$uninstall_key"
while IFS=$'\t' read -r from to; do
  case $to in
    "$unix_folder/VOD info.txt") check "the appended catalogue was removed" test -f "$to" ;;
    "$unix_folder/sample-courses/"*/xml/interface.xml | "$unix_folder/sample-courses/"*/imsmanifest.xml)
      # Files the run rewrote were installed, and go too.
      check "left after uninstalling: ${to#"$unix_folder"/}" test ! -e "$to" ;;
    *) check "left after uninstalling: ${to#"$unix_folder"/}" test ! -e "$to" ;;
  esac
done <"$work/files"
check "the uninstaller is left" test ! -e "$unix_folder/uninstall.exe"
check "the web folder is left" test ! -e "$unix_folder/web"
check "the Start-menu folder is left" test ! -e "$menu"
check "the patch log was removed" test -f "$log"
check "a course page the run wrote was removed" test -f "$unix_folder/sample-courses/fire101/fire101.htm"

summary installer "$count files installed"
