#!/usr/bin/env bash
# The display goes away under a running controller (an X server that crashes, a dropped
# remote session): the controller saves Param.ini, says so in one line on standard error and
# ends with status 1, not with a crash. Also while a message box is open.
# usage: lost_display.sh CNCMIREL
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/common.sh"
app="$1"

OK_TABLE_SIZE_BUTTON=$(control_centre 55 390 30 20)
APPLIED_FIELD="198 198 198"
LOST_LINE="cncmirel: the display connection was lost: the parameters were saved"

# Kills the X server under the controller and checks how the controller ended.
kill_display_and_check() {
    kill -KILL "$XVFB_PID"
    wait_process_end "$APP_PID" || fail "the controller still runs without its display ($1)"
    local status=0
    wait "$APP_PID" || status=$?
    APP_PID=
    [ "$status" = 1 ] || { cat app.err >&2; fail "the controller ended with status $status ($1)"; }
    grep -qxF "$LOST_LINE" app.err || { cat app.err >&2; fail "no line on the lost display ($1)"; }
}

enter_work_dir
write_params Param.ini 1 2 3 100 100 100 300 200 50 5 3 100 10 20 5
start_display
start_app "$app"
# Table size X becomes 235 and is applied with its row's Ok: the field turns grey again.
click_at "$TABLE_SIZE_X_FIELD"
xdotool key --clearmodifiers 2 3 5
wait_pixel $((W - 220 + 3)) $((H - 390 + 3)) "$CHANGED_FIELD" || fail "the field took no digits"
click_at "$OK_TABLE_SIZE_BUTTON"
wait_pixel $((W - 220 + 3)) $((H - 390 + 3)) "$APPLIED_FIELD" || fail "the field was not applied"
kill_display_and_check "a running pass"
write_params expected.ini 1 2 3 100 100 100 235 200 50 5 3 100 10 20 5
cmp Param.ini expected.ini || {
    od -An -td4 Param.ini >&2
    fail "Param.ini does not hold the applied field"
}

# No Param.ini: the box "Параметры не найдены" is open when the display goes.
rm Param.ini
start_display
"$app" 2>app.err &
APP_PID=$!
wait_window "Параметры не найдены" >/dev/null
kill_display_and_check "a message box open"
[ "$(stat -c %s Param.ini)" = 60 ] || fail "Param.ini was not written with the box open"
echo "lost display: ok"
