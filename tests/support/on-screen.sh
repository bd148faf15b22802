#!/bin/sh
# Runs a test program on a screen of its own, as a desktop shows windows: an Xvfb screen of
# the size given (24-bit, which Qt can paint on), with the openbox window manager framing
# and placing the windows. Both go when the program ends.
#   on-screen.sh WIDTHxHEIGHT PROGRAM [ARGUMENTS...]
set -eu
size="$1"
shift
dir="$(mktemp -d)"
xvfb=""
wm=""
cleanup() {
    [ -z "$wm" ] || kill "$wm" 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Waits up to 10 s for the process $2 ($3, logging to $4) to write into the file $1.
await() {
    tries=0
    while [ ! -s "$1" ]; do
        tries=$((tries + 1))
        if [ "$tries" -gt 100 ] || ! kill -0 "$2" 2>/dev/null; then
            echo "$3 did not start:" >&2
            cat "$4" >&2
            exit 1
        fi
        sleep 0.1
    done
}

# Xvfb picks a free display and writes its number once it takes connections.
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
xvfb=$!
await "$dir/display" "$xvfb" Xvfb "$dir/xvfb.log"
DISPLAY=":$(head -n 1 "$dir/display")"
export DISPLAY
openbox --sm-disable --startup "sh -c 'echo up >$dir/ready'" >"$dir/wm.log" 2>&1 &
wm=$!
await "$dir/ready" "$wm" openbox "$dir/wm.log"

status=0
"$@" || status=$?
exit "$status"
