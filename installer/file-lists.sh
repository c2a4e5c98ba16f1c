#!/usr/bin/env bash
# Writes the installer's file lists, so that the installer and its uninstaller
# name exactly the same files.
#   installer/file-lists.sh SOURCE OUT_DIR
# writes OUT_DIR/install-files.nsh (SetOutPath and File lines) and
# OUT_DIR/uninstall-files.nsh (Delete lines, then RMDir of the folders, deepest
# first: a folder that still holds anything, such as a run's output, stays).
set -euo pipefail
source_dir=$(cd "$1" && pwd)
out=$2
mkdir -p "$out"
install="$out/install-files.nsh"
uninstall="$out/uninstall-files.nsh"
: >"$install"
: >"$uninstall"
folders=()
last_dir=-

# nsis_text TEXT: TEXT as the inside of an NSIS string ($ doubled). A name
# that NSIS cannot quote is refused rather than installed under another name.
nsis_text() {
  case $1 in
    *'"'* | *$'\n'*)
      echo "file-lists.sh: cannot install a file named '$1'" >&2
      exit 1
      ;;
  esac
  printf '%s' "${1//\$/\$\$}"
}

# windows_path TO REL: the installed path of REL ("/"-separated, "." for the
# top) below the installation's folder TO ("" for the installation itself),
# as NSIS text.
windows_path() {
  local path="${1:+\\$1}"
  [ "$2" = . ] || path+="\\${2//\//\\}"
  printf '%s%s' "\$INSTDIR" "$(nsis_text "$path")"
}

# add_file FROM FOLDER: installs the file FROM into the installed FOLDER
# (NSIS text).
add_file() {
  local from=$1 folder=$2 name
  name=$(nsis_text "$(basename "$from")")
  if [ "$folder" != "$last_dir" ]; then
    printf 'SetOutPath "%s"\n' "$folder" >>"$install"
    last_dir=$folder
  fi
  printf 'File "%s"\n' "$(nsis_text "$from")" >>"$install"
  case $name in
    # Runs append to the catalogues and users replace the spreadsheet export:
    # such a file is removed only while it is as installed (same size).
    "HTML course descriptions.txt" | "VOD info.txt" | spreadsheet.txt)
      printf '!insertmacro DeleteIfUnchanged "%s" %s\n' "$folder\\$name" \
        "$(stat -c %s "$from")" >>"$uninstall"
      ;;
    *) printf 'Delete "%s"\n' "$folder\\$name" >>"$uninstall" ;;
  esac
}

# add_tree FROM TO [EXCLUDED_NAME ...]: every file below the source folder
# FROM, installed below the installation's folder TO.
add_tree() {
  local from=$source_dir/$1 to=$2 rel
  shift 2
  local excluded=()
  for name in "$@"; do excluded+=(! -name "$name"); done
  while IFS= read -r -d '' rel; do
    rel=${rel#./}
    add_file "$from/$rel" "$(windows_path "$to" "$(dirname "$rel")")"
  done < <(cd "$from" && find . -type f "${excluded[@]}" -print0 | LC_ALL=C sort -z)
  while IFS= read -r -d '' rel; do
    folders+=("$(windows_path "$to" "${rel#./}")")
  done < <(cd "$from" && find . -mindepth 1 -type d -print0)
  [ -z "$to" ] || folders+=("$(windows_path "$to" .)")
}

# The same files as a Linux install (cmake/Install.cmake): the sample
# installation with its schemas, the sample courses and videos, the documents.
add_tree sample/install ""
add_tree res/schemas schemas .gitattributes
add_tree sample/courses sample-courses
add_tree sample/videos sample-videos
add_file "$source_dir/README.md" "\$INSTDIR\\doc"
add_file "$source_dir/docs/copyright" "\$INSTDIR\\doc"
folders+=("\$INSTDIR\\doc")

# Deepest first, so that each folder is empty when its turn comes.
printf '%s\n' "${folders[@]}" | awk '{ print gsub(/\\/, "\\") "\t" $0 }' | sort -rn -s |
  cut -f2- | while IFS= read -r folder; do
  printf 'RMDir "%s"\n' "$folder" >>"$uninstall"
done
