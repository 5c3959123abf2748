#!/usr/bin/env bash
# The controller in a real window: digits typed into a focused field go in through the shortcut
# keys, Esc ends the program, and Param.ini is written back byte for byte.
# usage: panel_entry.sh CNCMIREL [SCREENSHOT_OUT]
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/common.sh"
app="$1"
shot_out="${2:-}"

enter_work_dir
write_params Param.ini 1 2 3 100 100 100 300 200 50 5 3 100 10 20 5
start_display

start_app "$app"

# Click into the text of the field "table size X", then type 2, 3, 5: the field turns white.
click_at "$TABLE_SIZE_X_FIELD"
xdotool key --clearmodifiers 2 3 5
# The arrow keys are shortcuts too: Left jogs X and must not move the field's cursor or value.
xdotool key Left
wait_pixel $((W - 220 + 3)) $((H - 390 + 3)) "$CHANGED_FIELD" || fail "the field took no digits"
screenshot_and_escape "$shot_out"

write_params expected.ini 1 2 3 100 100 100 235 200 50 5 3 100 10 20 5
cmp Param.ini expected.ini || {
    od -An -td4 Param.ini >&2
    fail "Param.ini differs from the expected bytes"
}
echo "panel entry: ok"
