#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# One end-to-end case: e2e.sh CASE. Starts its own X server, the installed
# panel on the virtual board with a trace, and drives it with xdotool. Every
# process it starts is ended on the way out, pass or fail.
set -euo pipefail
case=${1:?case}
prefix=${E2E_PREFIX:?}
wm_close=${E2E_WM_CLOSE:?}

work=$(mktemp -d)
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL ($case): $*" >&2
    [ -f "$work/trace" ] && { echo "trace:" >&2; cat "$work/trace" >&2; }
    [ -f "$work/stderr" ] && { echo "panel stderr:" >&2; cat "$work/stderr" >&2; }
    exit 1
}

# Centres of the controls, in pixels of the client area (twips / 15).
declare -A at=(
    [BIT0]="56 136" [BIT1]="56 192" [BIT3]="56 304" [BIT5]="280 192" [BIT7]="280 304"
    [LOOP]="64 368" [exit]="364 368" [Text1]="100 137" [Text2]="132 137"
)

start_x() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    pids+=($!)
    local i
    for i in $(seq 200); do
        [ -s "$work/display" ] && break
        sleep 0.05
    done
    [ -s "$work/display" ] || fail "Xvfb did not start"
    export DISPLAY=":$(head -n1 "$work/display")"
}

# start_panel [BINARY [PREFIX-COMMAND...]]
panel=
win=
start_panel() {
    local binary=${1:-$prefix/bin/pc-automation}
    shift || true
    # A bus address that leads nowhere: each case's panel runs alone.
    env -u LD_LIBRARY_PATH QT_QPA_PLATFORM=xcb FENWIX_LPT1=virtual \
        DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" \
        FENWIX_TRACE="$work/trace" FENWIX_BOARD="$work/board" \
        "$@" "$binary" 2>"$work/stderr" &
    panel=$!
    pids+=("$panel")
    win=$(timeout 30 xdotool search --sync --onlyvisible --pid "$panel" | head -n1) ||
        fail "the panel's window did not appear"
    sleep 0.3
}

click() {
    local xy=(${at[$1]})
    xdotool mousemove --window "$win" "${xy[0]}" "${xy[1]}" click 1
    sleep 0.15
}

values() { [ -f "$work/trace" ] && awk '{print $2}' "$work/trace" | paste -sd' ' || true; }
lines() { [ -f "$work/trace" ] && wc -l <"$work/trace" || echo 0; }

wait_lines() { # wait_lines N SECONDS
    local deadline=$((SECONDS + $2))
    while [ "$(lines)" -lt "$1" ]; do
        [ $SECONDS -lt $deadline ] || fail "expected $1 port writes, got '$(values)'"
        sleep 0.05
    done
}

# wait_exit SECONDS: sets status to the panel's exit status, or fails when it
# keeps running. Not in a subshell: only this shell can wait for the panel.
status=
wait_exit() {
    local i steps=$(($1 * 20))
    for ((i = 0; i < steps; i++)); do
        kill -0 "$panel" 2>/dev/null || break
        sleep 0.05
    done
    kill -0 "$panel" 2>/dev/null && fail "the panel still runs after $1 s"
    status=0
    wait "$panel" || status=$?
}

if [ "$case" = no_display ]; then
    # Without a display either program says so in one line of its own and
    # exits 69, where Qt would abort.
    for program in pc-automation lpt-board; do
        status=0
        env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/$program" \
            >"$work/out" 2>&1 || status=$?
        [ "$status" = 69 ] || fail "$program: exit status $status: $(cat "$work/out")"
        [ "$(cat "$work/out")" = "$program: no display: set DISPLAY or WAYLAND_DISPLAY, or run \
under a desktop session" ] || fail "$program said: $(cat "$work/out")"
    done
    echo "PASS ($case)"
    exit 0
fi

start_x
case $case in
clicks)
    start_panel
    click BIT3; click BIT0; click BIT3; click BIT7
    wait_lines 4 5
    [ "$(values)" = "8 9 1 129" ] || fail "writes '$(values)'"
    [ "$(cat "$work/board")" = "$(printf '129\nvirtual')" ] || fail "board file: $(cat "$work/board")"
    ;;
exit)
    start_panel
    click BIT0; click BIT5
    wait_lines 2 5
    click exit
    wait_exit 1
    [ "$status" = 0 ] || fail "exit status $status"
    [ "$(values)" = "1 33 0" ] || fail "writes '$(values)'"
    ;;
exit_flood)
    # A script calls Activate without end: the exit button still ends the
    # panel at once.
    dbus-daemon --session --fork --print-address=1 --print-pid=3 >"$work/bus" 3>"$work/bus-pid"
    pids+=("$(cat "$work/bus-pid")")
    bus=$(head -n1 "$work/bus")
    start_panel "$prefix/bin/pc-automation" DBUS_SESSION_BUS_ADDRESS="$bus"
    click BIT0
    wait_lines 1 5
    DBUS_SESSION_BUS_ADDRESS="$bus" "${E2E_FLOOD:?}" &
    pids+=($!)
    sleep 3
    click exit
    wait_exit 1
    [ "$status" = 0 ] || fail "exit status $status"
    [ "$(values)" = "1 0" ] || fail "writes '$(values)'"
    ;;
viewer_beside | viewer_beside_openbox)
    # Started after the panel, as from the menu: the viewer opens beside it,
    # on the screen, covering none of it; with no window manager, and with one
    # that places the panel in the middle of the screen.
    if [ "$case" = viewer_beside_openbox ]; then
        command -v openbox >/dev/null || { echo "SKIP: no openbox"; exit 77; }
        openbox >/dev/null 2>&1 &
        pids+=($!)
        sleep 1
    fi
    start_panel
    env QT_QPA_PLATFORM=xcb FENWIX_BOARD="$work/board" "$prefix/bin/lpt-board" 2>/dev/null &
    pids+=($!)
    viewer=$(timeout 30 xdotool search --sync --onlyvisible --pid $! | head -n1) ||
        fail "the viewer's window did not appear"
    eval "$(xdotool getwindowgeometry --shell "$win")"
    px=$X py=$Y pw=$WIDTH ph=$HEIGHT
    eval "$(xdotool getwindowgeometry --shell "$viewer")"
    [ "$X" -ge $((px + pw)) ] || [ $((X + WIDTH)) -le "$px" ] ||
        [ "$Y" -ge $((py + ph)) ] || [ $((Y + HEIGHT)) -le "$py" ] ||
        fail "the viewer at $X,$Y ${WIDTH}x$HEIGHT covers the panel at $px,$py ${pw}x$ph"
    [ $((X + WIDTH)) -le 1024 ] && [ $((Y + HEIGHT)) -le 768 ] ||
        fail "the viewer at $X,$Y ${WIDTH}x$HEIGHT is off the screen"
    ;;
close)
    start_panel
    click BIT1
    wait_lines 1 5
    "$wm_close" "$win"
    wait_exit 2
    [ "$status" = 0 ] || fail "exit status $status"
    [ "$(values)" = "2" ] || fail "writes '$(values)'"
    ;;
loop)
    start_panel
    click LOOP
    wait_lines 5 10
    # The lamps walk at the pause's pace: a quarter of a second a step.
    awk 'NR > 1 { d = $1 - prev; if (d < 0.24 || d > 1.0) { print "gap " d; bad = 1 } }
         { prev = $1 } END { exit bad }' "$work/trace" || fail "uneven pace"
    click exit
    wait_exit 2
    [ "$status" = 0 ] || fail "exit status $status"
    last=$(values | awk '{print $NF}')
    [ "$last" = 0 ] || fail "last write $last"
    [[ "$(values)" =~ ^1\ 2\ 4\ 8\ 16( [0-9]+)*\ 0$ ]] || fail "writes '$(values)'"
    [ "$(values | grep -o '\b0\b' | wc -l)" = 1 ] || fail "writes '$(values)'"
    ;;
loop_close)
    # The close control during a loop test ends the run and the program at
    # once; the port keeps the last step's value.
    start_panel
    click LOOP
    wait_lines 3 10
    "$wm_close" "$win"
    wait_exit 2
    [ "$status" = 0 ] || fail "exit status $status"
    n=$(lines)
    sleep 0.6
    [ "$(lines)" = "$n" ] || fail "writes after the window closed: '$(values)'"
    [[ "$(values)" =~ ^1\ 2\ 4( 8)?( 16)?$ ]] || fail "writes '$(values)'"
    ;;
schedule)
    # A wall clock a few seconds before 07:30, running at normal speed: the
    # faketime package's library in its start-at form. (Its faketime command
    # would run the panel as a child, out of this script's reach.)
    libfaketime=$(ls /usr/lib/*/faketime/libfaketime.so.1 | head -n1)
    day=$(date -u +%F)
    export TZ=UTC
    start_panel "$prefix/bin/pc-automation" env LD_PRELOAD="$libfaketime" \
        FAKETIME="@$day 07:29:50" ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0"
    click Text1; xdotool type --delay 20 "7"
    click Text2; xdotool type --delay 20 "30"
    wait_lines 1 25
    due=$(date -u -d "$day 07:30:00" +%s)
    awk -v due="$due" '{ d = $1 - due; if (d < 0 || d >= 1) { print "late by " d; exit 1 } }' \
        "$work/trace" || fail "the write did not land in the first second of 07:30"
    sleep 2
    [ "$(values)" = "1" ] || fail "writes '$(values)'"
    ;;
resize)
    # No window manager runs here: the panel itself undoes a size change.
    start_panel
    xdotool windowsize "$win" 300 300
    sleep 1
    size=$(xdotool getwindowgeometry "$win" | awk '/Geometry/ {print $2}')
    [ "$size" = 489x508 ] || fail "window size $size"
    ;;
missing_library)
    # The panel alone, away from its library.
    if ldconfig -p 2>/dev/null | grep -q 'libFENWIX\.so '; then
        echo "SKIP: a port library is installed system-wide and would be found"
        exit 77
    fi
    mkdir -p "$work/bin"
    cp "$prefix/bin/pc-automation" "$work/bin/"
    start_panel "$work/bin/pc-automation"
    click BIT0
    # The report is shown in a message box, then on stderr as the panel ends.
    box=$(timeout 10 xdotool search --sync --onlyvisible --pid "$panel" --name "pc-automation" |
          grep -v "^$win\$" | head -n1) || fail "no message box"
    xdotool windowfocus --sync "$box" key Return || true
    wait_exit 5
    grep -q "FENWIX" "$work/stderr" || fail "the library is not named on stderr"
    grep -q "FENWIX_OUT_LPT1" "$work/stderr" || fail "the function is not named on stderr"
    [ "$status" != 0 ] || fail "exit status 0"
    [ "$(lines)" = 0 ] || fail "a write was recorded"
    ;;
*)
    fail "unknown case"
    ;;
esac
echo "PASS ($case)"
