#!/usr/bin/env bash
# Starts a program under a virtual X server, waits for it to draw, and saves a PNG of the screen.
#   scripts/screenshot.sh [-w seconds] [-s WIDTHxHEIGHT] output.png program [arguments...]
# The program runs with DISPLAY set to the virtual server and the xcb platform; it is ended
# after the picture is taken. Needs Xvfb and ImageMagick's import.
set -euo pipefail

wait_seconds=3
size=1280x800
usage() {
    echo "usage: $0 [-w seconds] [-s WIDTHxHEIGHT] output.png program [arguments...]" >&2
    exit 2
}
while getopts "w:s:h" opt; do
    case $opt in
        w) wait_seconds=$OPTARG ;;
        s) size=$OPTARG ;;
        *) usage ;;
    esac
done
shift $((OPTIND - 1))
[ $# -ge 2 ] || usage
output=$1
shift
[[ $wait_seconds =~ ^[0-9]+([.][0-9]+)?$ ]] || { echo "bad wait: $wait_seconds" >&2; exit 2; }
[[ $size =~ ^[0-9]+x[0-9]+$ ]] || { echo "bad size: $size" >&2; exit 2; }
command -v Xvfb >/dev/null || { echo "Xvfb is not installed" >&2; exit 1; }
command -v import >/dev/null || { echo "ImageMagick import is not installed" >&2; exit 1; }

# A display number nobody uses.
display=""
for n in $(seq 90 200); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        display=$n
        break
    fi
done
[ -n "$display" ] || { echo "no free display number" >&2; exit 1; }

xvfb_pid=""
program_pid=""
cleanup() {
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null && wait "$program_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

Xvfb ":$display" -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { echo "Xvfb did not start" >&2; exit 1; }
    sleep 0.1
done
[ -e "/tmp/.X11-unix/X$display" ] || { echo "Xvfb did not start" >&2; exit 1; }

DISPLAY=":$display" QT_QPA_PLATFORM=xcb "$@" &
program_pid=$!
sleep "$wait_seconds"
if ! kill -0 "$program_pid" 2>/dev/null; then
    echo "warning: the program ended before the picture was taken" >&2
fi
DISPLAY=":$display" import -window root "$output"
echo "$output"
