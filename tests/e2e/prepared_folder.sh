#!/usr/bin/env bash
# A board prepared for a job unit of 0.1 mm and the controller started on its folder from
# elsewhere: the file dialog opens in the folder (a bare file name is found there), the holes are
# drawn one pixel per unit, and at Esc the folder's Param.ini is written back unchanged while the
# folder the controller was started from gets none.
# usage: prepared_folder.sh CNCMIREL CNCMIREL-PREP [SCREENSHOT_OUT]
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/common.sh"
app="$1"
prep="$2"
shot_out="${3:-}"

enter_work_dir
# 10 steps per mm, a 100 x 100 x 50 mm table, 1 ms steps, depth 3, travel height 5 mm.
write_params machine.ini 0 0 0 10 10 10 100 100 50 1 3 100 0 0 5
# Two holes 2.54 mm apart: with the 5 mm margin at 5 and 7.54 mm, 50 and 75 units.
printf 'M48\nMETRIC\n%%\nX3.0Y3.0\nX5.54Y3.0\nM30\n' >board.drl
"$prep" board.drl -o "$WORK/folder" --machine machine.ini --tools all --quiet ||
    fail "cncmirel-prep did not prepare the folder"
cp folder/Param.ini derived.ini
mkdir elsewhere
cd elsewhere
start_display

start_app "$app" --folder "$WORK/folder"
click_at "$OPEN_FILE_BUTTON"
dialog=$(wait_window "Please choose file to load")
focus_window "$dialog"
xdotool type --delay 20 "board.drl"
xdotool key Return
wait_pixel $(table_point 50 50) "$PREVIEW_HOLE" || fail "the first hole was not drawn at 50, 50"
wait_pixel $(table_point 75 50) "$PREVIEW_HOLE" || fail "the second hole was not drawn at 75, 50"
focus_window "$WIN"
screenshot_and_escape "$shot_out"

cmp "$WORK/folder/Param.ini" "$WORK/derived.ini" ||
    fail "the folder's Param.ini was not written back unchanged"
[ ! -e Param.ini ] || fail "a Param.ini was written where the controller was started"
echo "prepared folder: ok"
