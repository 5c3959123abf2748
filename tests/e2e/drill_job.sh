#!/usr/bin/env bash
# An operator's drilling job in a real window: open a file through the file dialog, Start, wait
# for "Программа завершена", close it, wait for the motion to end, Stop, Esc. Param.ini must be
# written and a screenshot taken before Esc must show the drilled-hole marks.
# usage: drill_job.sh CNCMIREL [SCREENSHOT_OUT]
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/common.sh"
app="$1"
shot_out="${2:-}"

enter_work_dir
# 1 step per mm, a 100 x 100 x 50 mm table, 1 ms steps, depth 3, travel height 5 mm.
write_params Param.ini 0 0 0 1 1 1 100 100 50 1 3 100 0 0 5
cp Param.ini before.ini
mkdir jobs
printf 'M48\nT1C0.8\nX20Y30\nX40Y30\nX40Y50\nM30\n' >jobs/small.drl
start_display

start_app "$app"

# Open file, then type the path into the dialog's name field; the job drawn on the canvas shows
# that the dialog has closed and the file was read.
open_colour=$(window_pixel $OPEN_FILE_BUTTON)
click_at "$OPEN_FILE_BUTTON"
dialog=$(wait_window "Please choose file to load")
focus_window "$dialog"
xdotool type --delay 20 "$WORK/jobs/small.drl"
xdotool key Return
wait_pixel $(table_point 20 30) "$PREVIEW_HOLE" || fail "the job was not drawn"
click_at "$START_BUTTON"
box=$(wait_window "Программа завершена" 60)
focus_window "$box"
xdotool key Return
wait_window_gone "Программа завершена"
# The way back to X 0, Y 0: the cross-hair through the table's corner again.
wait_pixel $(table_point 0 400) "$TOOL" 60 || fail "the tool did not come back to X 0"
wait_pixel $(table_point 400 0) "$TOOL" 60 || fail "the tool did not come back to Y 0"
# Stop brings the hidden controls back; then a screenshot and Esc.
focus_window "$WIN"
click_at "$STOP_BUTTON"
wait_pixel $OPEN_FILE_BUTTON "$open_colour" || fail "Stop did not bring the controls back"
screenshot_and_escape "$shot_out"

cmp Param.ini before.ini || fail "Param.ini was not written back unchanged"
for hole in "20 30" "40 30" "40 50"; do
    colour=$(pixel shot.png $(table_point $hole))
    [ "$colour" = "$DRILLED_HOLE" ] || fail "hole ($hole): colour $colour, not the drilled mark"
done
echo "drilling job: ok"
