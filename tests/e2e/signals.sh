#!/usr/bin/env bash
# A logout, Ctrl-C or kill ends the controller as its close box does: SIGTERM, SIGINT and SIGHUP
# each end the program with status 0 and Param.ini written, also while the message box of a
# missing Param.ini is still open.
# usage: signals.sh CNCMIREL [SCREENSHOT_OUT]
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/common.sh"
app="$1"

# Waits for the controller to end by itself and checks its exit status.
wait_for_end() {
    wait_process_end "$APP_PID" || fail "the controller did not end on $1"
    wait "$APP_PID" || fail "the controller ended with status $? on $1"
    APP_PID=
}

enter_work_dir
start_display

for signal in TERM INT HUP; do
    # A step time of 0 is brought to the field's minimum, 1: the file written back shows it.
    write_params Param.ini 0 0 0 10 10 10 100 100 50 0 3 100 0 0 10
    start_app "$app"
    kill -"$signal" "$APP_PID"
    wait_for_end "SIG$signal"
    write_params expected.ini 0 0 0 10 10 10 100 100 50 1 3 100 0 0 10
    cmp Param.ini expected.ini || fail "Param.ini was not written on SIG$signal"
done

# No Param.ini: the box "Параметры не найдены" waits for the operator; the signal closes it.
rm Param.ini
"$app" 2>app.err &
APP_PID=$!
wait_window "Параметры не найдены" >/dev/null
kill -TERM "$APP_PID"
wait_for_end "SIGTERM with a message box open"
[ "$(stat -c %s Param.ini)" = 60 ] || fail "Param.ini was not written with the box open"
echo "signals: ok"
