#!/usr/bin/env bash
# Screenshots of the desktop program for the README, taken of the real
# program on a virtual X display with a window manager for the frames.
# Needs xvfb-run, openbox, xdotool and ImageMagick's import.
#   tools/screenshots.sh [BUILD_FOLDER]     (default: build)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)

if [[ ${1:-} == --inside ]]; then
    # Runs on the virtual display: $2 is the program, $3 the output folder, $4 the name suffix.
    program=$2 out=$3 suffix=$4
    [[ -n ${SCREENSHOTS_TRACE:-} ]] && set -x
    openbox >/dev/null 2>&1 &
    wm=$!
    sleep 1

    settle() { sleep 1.5; }
    grab() {
        # The window with its frame: the client's place, less its offset in the frame.
        local info x y rx ry w h
        info=$(xwininfo -id "$1")
        x=$(awk '/Absolute upper-left X/ {print $4}' <<<"$info")
        y=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")
        rx=$(awk '/Relative upper-left X/ {print $4}' <<<"$info")
        ry=$(awk '/Relative upper-left Y/ {print $4}' <<<"$info")
        w=$(awk '/Width:/ {print $2}' <<<"$info")
        h=$(awk '/Height:/ {print $2}' <<<"$info")
        import -window root -crop "$((w + 2 * rx))x$((h + ry + rx))+$((x - rx))+$((y - ry))" +repage "$out/$2"
    }
    wait_window() {
        # A search can trip over a window that closes meanwhile: try again.
        local id=
        for _ in $(seq 100); do
            id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1) || true
            [[ -n $id ]] && break
            sleep 0.2
        done
        [[ -n $id ]] || { echo "no window '$1'" >&2; return 1; }
        echo "$id"
    }

    # The settings dialog as it opens; then on to the folder picker.
    "$program" &
    pid=$!
    id=$(wait_window '^course configuration$')
    settle
    grab "$id" "settings-dialog$suffix.png"
    if [[ -z $suffix ]]; then
        xdotool windowfocus --sync "$id" key Return
        # The picker opens at the home folder; the courses are its first folder.
        picker=$(wait_window '^Browse to the Starting course folder:$')
        settle
        grab "$picker" "folder-picker.png"
        xdotool windowfocus --sync "$picker" key --delay 200 Down Return
        progress=$(wait_window '^Quarvel$')
        settle
        grab "$progress" "progress-window.png"
        xdotool windowfocus --sync "$progress" key Escape
        done_box=$(wait_window '^Course Bundle Patch Status$')
        xdotool windowfocus --sync "$done_box" key Return
    else
        xdotool windowfocus --sync "$id" key Escape
    fi
    wait "$pid" || true

    if [[ -z $suffix ]]; then
        # Assessment mode: Tab to the "Pretest" radio, then the arrow key moves to "Assessment / ADL".
        "$program" &
        pid=$!
        id=$(wait_window '^course configuration$')
        settle
        xdotool windowfocus --sync "$id" key --delay 100 Tab Tab Tab Tab Tab Tab Right
        settle
        grab "$id" "settings-dialog-assessment.png"
        xdotool windowfocus --sync "$id" key Escape
        wait "$pid" || true
    fi
    kill "$wm" 2>/dev/null || true
    exit 0
fi

build=$(cd "${1:-$root/build}" && pwd)
program=$build/bin/quarvel
out=$root/docs
mkdir -p "$out"

# A throw-away installation and home folder, so the program starts as it
# does for a user; enough course bundles that the progress window stays up
# for a while (the run is stopped once it is grabbed).
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$root/sample/install" "$work/install"
mkdir -p "$work/courses"
for i in $(seq -w 1 300); do cp -r "$root/sample/courses/intro101" "$work/courses/course$i"; done
printf 'NB Path=%s\n' "$work/install" >"$work/quarvel.conf"
export QUARVEL_CONFIG=$work/quarvel.conf HOME=$work
unset QT_QPA_PLATFORM

xvfb-run -a -s "-screen 0 1400x900x24" "$0" --inside "$program" "$out" ""
# A laptop screen at scale 2, too small for the whole settings dialog.
QT_SCALE_FACTOR=2 xvfb-run -a -s "-screen 0 1600x1000x24" "$0" --inside "$program" "$out" "-200"
ls -l "$out"/*.png
