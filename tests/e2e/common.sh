# common.sh - helpers for the end-to-end tests: a real controller window under Xvfb, driven
# with xdotool, in a temporary working directory. The tests wait on what they can observe (a
# window, a pixel of it, a file, the end of the process), and place every click and pixel by the
# panel's own layout, relative to the controller's window.
set -euo pipefail

# The tests set up their own environment: the controller must reach our X server whatever the
# caller set (QT_QPA_PLATFORM=offscreen, usual for headless Qt tests, would keep it from it).
unset QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME WAYLAND_DISPLAY

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Writes fifteen values as a sixty-byte parameter file (little-endian 32-bit).
write_params() {
    local file="$1"
    shift
    : >"$file"
    local v
    for v in "$@"; do
        local u=$(( v & 0xFFFFFFFF ))
        printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((u & 255)) $(((u >> 8) & 255)) \
            $(((u >> 16) & 255)) $(((u >> 24) & 255)))" >>"$file"
    done
}

# A fresh working directory, removed (with the display and the controller) when the test ends.
enter_work_dir() {
    WORK=$(mktemp -d)
    trap 'stop_display; [ -n "${APP_PID:-}" ] && kill "$APP_PID" 2>/dev/null; rm -rf "$WORK"' EXIT
    cd "$WORK"
}

# The panel, as its control table places it in the 1024 x 768 window: the centre of a control
# from its corner offsets from the right and bottom edges and its size, "X Y" in the window.
W=1024
H=768
control_centre() {
    echo "$((W - $1 + $3 / 2)) $((H - $2 + $4 / 2))"
}
OPEN_FILE_BUTTON=$(control_centre 70 730 40 40)
START_BUTTON=$(control_centre 220 730 40 40)
STOP_BUTTON=$(control_centre 120 730 40 40)
# A spin field: a point in its text, left of the arrows.
TABLE_SIZE_X_FIELD="$((W - 220 + 11)) $((H - 390 + 10))"
# A table position (X, Y) mm as a point of the window: the drawing area at (5, 5) of the window,
# the canvas at (20, 5) of the drawing area, one pixel per millimetre.
table_point() {
    echo "$((5 + 20 + $1)) $((5 + 5 + $2))"
}
# Colours, "R G B".
AREA_BACKGROUND="37 3 58"
PREVIEW_HOLE="34 0 255"
DRILLED_HOLE="250 0 0"
TOOL="220 207 45"
CHANGED_FIELD="255 255 255"

# Starts the controller (with any options after it) in the background and waits until its window
# shows a first frame: the window, then the drawing area's background.
start_app() {
    "$@" 2>app.err &
    APP_PID=$!
    WIN=$(wait_window "CNC Mirel")
    wait_pixel 5 5 "$AREA_BACKGROUND" || fail "the window shows no drawing area"
}

# The colour of one pixel of the controller's window now, as "R G B".
window_pixel() {
    import -window "$WIN" -crop "1x1+$1+$2" +repage \
        -format '%[fx:int(255*r+0.5)] %[fx:int(255*g+0.5)] %[fx:int(255*b+0.5)]' info: 2>/dev/null
}

# Waits (20 s at most) until the window's pixel (X, Y) has the colour "R G B"; false otherwise.
wait_pixel() {
    local deadline=$((SECONDS + ${4:-20}))
    while [ "$SECONDS" -lt "$deadline" ]; do
        [ "$(window_pixel "$1" "$2")" = "$3" ] && return 0
        sleep 0.05
    done
    echo "pixel ($1, $2) is $(window_pixel "$1" "$2"), not $3" >&2
    return 1
}

# Waits (20 s at most) for the process to end; false when it still runs.
wait_process_end() {
    local deadline=$((SECONDS + ${2:-20}))
    while [ "$SECONDS" -lt "$deadline" ]; do
        kill -0 "$1" 2>/dev/null || return 0
        sleep 0.05
    done
    return 1
}

# Takes a screenshot of the window (kept at $1 when given), presses Esc and waits for a clean end.
screenshot_and_escape() {
    import -window "$WIN" shot.png
    [ -n "$1" ] && cp shot.png "$1"
    xdotool key Escape
    wait_for_end Esc
}

# Waits for the controller to end by itself, with status 0, after $1.
wait_for_end() {
    wait_process_end "$APP_PID" || fail "the controller did not end on $1"
    wait "$APP_PID" || fail "the controller ended with status $? on $1"
    APP_PID=
}

# Starts an X server of our own and sets DISPLAY; stopped by stop_display. The server picks a
# free display number itself and writes it to a file once it is ready, so that tests started at
# the same time never share (or lose) a display. -noreset: the server would otherwise reset
# whenever the controller, its last client, ends, and refuse the next test step meanwhile.
start_display() {
    local out="$WORK/xvfb.display"
    : >"$out"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$out" >/dev/null 2>&1 &
    XVFB_PID=$!
    local deadline=$((SECONDS + 20))
    while [ "$(wc -l <"$out")" -lt 1 ]; do
        kill -0 "$XVFB_PID" 2>/dev/null || fail "the X server did not start"
        [ "$SECONDS" -lt "$deadline" ] || fail "no X display could be started"
        sleep 0.05
    done
    export DISPLAY=":$(head -n 1 "$out")"
}

stop_display() {
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
}

# Waits for a window whose name is $1 (for $2 seconds, default 20); prints its id.
wait_window() {
    local id
    id=$(timeout "${2:-20}" xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1) ||
        fail "no window named '$1'"
    echo "$id"
}

# Clicks at a point "X Y" of the controller's window.
click_at() {
    set -- $1
    xdotool mousemove --window "$WIN" --sync "$1" "$2" click 1
}

# Waits until no window named $1 is shown any more.
wait_window_gone() {
    local deadline=$((SECONDS + ${2:-20}))
    while [ "$SECONDS" -lt "$deadline" ]; do
        xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0
        sleep 0.05
    done
    fail "the window '$1' is still shown"
}

# Gives the keyboard focus to a window (there is no window manager to do it).
focus_window() {
    xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
}

# The colour of one pixel of a screenshot, as "R G B".
pixel() {
    convert "$1" -format '%[fx:int(255*p{'"$2"','"$3"'}.r)] %[fx:int(255*p{'"$2"','"$3"'}.g)] %[fx:int(255*p{'"$2"','"$3"'}.b)]' info:
}
