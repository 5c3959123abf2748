#!/usr/bin/env bash
# Text selected in a field makes the controller own the X selection; with a clipboard manager
# on the desktop, the toolkit would hand it over at exit and wait for the manager (up to five
# seconds after Esc, with the window already gone). The controller gives the selection up
# before it ends: the manager must not be asked, and Param.ini is still written.
# usage: selection_exit.sh CNCMIREL
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/common.sh"
app="$1"

enter_work_dir
write_params Param.ini 1 2 3 100 100 100 300 200 50 5 3 100 10 20 5
start_display
python3 "$here/clipboard_manager.py" >manager.log 2>&1 &
MANAGER_PID=$!
trap 'kill "$MANAGER_PID" 2>/dev/null; stop_display; [ -n "${APP_PID:-}" ] && kill "$APP_PID" 2>/dev/null; rm -rf "$WORK"' EXIT
for _ in $(seq 1 50); do
    grep -q ready manager.log && break
    sleep 0.1
done
grep -q ready manager.log || fail "the stand-in clipboard manager did not start: $(cat manager.log)"

start_app "$app"
# Double-click the field "table size X" (804, 378): its number is selected.
xdotool mousemove --sync 815 388 click --repeat 2 1
sleep 0.5
xdotool key --clearmodifiers 2 3 5
sleep 0.3
screenshot_and_escape ""

! grep -q request manager.log || fail "the clipboard manager was asked to take the selection over"
! grep -q "clipboard manager" app.err || fail "$(grep "clipboard manager" app.err)"
write_params expected.ini 1 2 3 100 100 100 235 200 50 5 3 100 10 20 5
cmp Param.ini expected.ini || fail "Param.ini differs from the expected bytes"
echo "selection at exit: ok"
