# common.sh - helpers for the end-to-end tests: a real controller window under Xvfb, driven
# with xdotool, in a temporary working directory.
set -euo pipefail

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

# Starts the controller in the background and waits for its window.
start_app() {
    "$1" 2>app.err &
    APP_PID=$!
    wait_window "CNC Mirel" >/dev/null
    sleep 1
}

# Takes a screenshot (kept at $1 when given), presses Esc and waits for a clean end.
screenshot_and_escape() {
    import -window root shot.png
    [ -n "$1" ] && cp shot.png "$1"
    xdotool key Escape
    wait_for_end Esc
}

# Waits up to ten seconds for the controller to end by itself, with status 0, after $1.
wait_for_end() {
    local i
    for i in $(seq 1 100); do
        kill -0 "$APP_PID" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$APP_PID" 2>/dev/null && fail "the controller did not end on $1"
    wait "$APP_PID" || fail "the controller ended with status $? on $1"
    APP_PID=
}

# Starts an X server of our own and sets DISPLAY; stopped by stop_display.
start_display() {
    local n
    for n in $(seq 90 130); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        export DISPLAY=":$n"
        local i
        for i in $(seq 1 100); do
            xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
            sleep 0.1
        done
        kill "$XVFB_PID" 2>/dev/null || true
    done
    fail "no X display could be started"
}

stop_display() {
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
}

# Waits for a window whose name is $1; prints its id.
wait_window() {
    local id
    id=$(timeout "${2:-20}" xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1) ||
        fail "no window named '$1'"
    echo "$id"
}

# Clicks at a point of the screen (the controller's window sits at its top-left corner).
click_at() {
    xdotool mousemove --sync "$1" "$2" click 1
    sleep 0.2
}

# The colour of one screen pixel of a screenshot, as "R G B".
pixel() {
    convert "$1" -format '%[fx:int(255*p{'"$2"','"$3"'}.r)] %[fx:int(255*p{'"$2"','"$3"'}.g)] %[fx:int(255*p{'"$2"','"$3"'}.b)]' info:
}
