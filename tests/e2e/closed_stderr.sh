#!/usr/bin/env bash
# Standard error a pipe that nobody reads any more: the controller's lines there fail, but it
# opens its window, takes input and writes Param.ini at Esc as ever.
# usage: closed_stderr.sh CNCMIREL
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/common.sh"
app="$1"

enter_work_dir
write_params Param.ini 1 2 3 100 100 100 300 200 50 5 3 100 10 20 5
start_display
# The pipe's reading end is closed before the controller starts; writes to a closed pipe kill
# by default (Python ignores that signal for itself, so the default is put back for the exec).
python3 -c '
import os, signal, sys
signal.signal(signal.SIGPIPE, signal.SIG_DFL)
r, w = os.pipe()
os.close(r)
os.dup2(w, 2)
os.execv(sys.argv[1], sys.argv[1:])' "$app" &
APP_PID=$!
WIN=$(wait_window "CNC Mirel")
wait_pixel 5 5 "$AREA_BACKGROUND" || fail "the window shows no drawing area"
click_at "$TABLE_SIZE_X_FIELD"
xdotool key --clearmodifiers 2 3 5
wait_pixel $((W - 220 + 3)) $((H - 390 + 3)) "$CHANGED_FIELD" || fail "the field took no digits"
xdotool key Escape
wait_for_end Esc
write_params expected.ini 1 2 3 100 100 100 235 200 50 5 3 100 10 20 5
cmp Param.ini expected.ini || fail "Param.ini differs from the expected bytes"
echo "closed stderr: ok"
