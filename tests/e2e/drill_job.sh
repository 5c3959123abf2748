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

# Open file (button at 954, 38), then type the path into the dialog's name field.
click_at 974 58
wait_window "Please choose file to load" >/dev/null
sleep 0.5
xdotool type --delay 20 "$WORK/jobs/small.drl"
xdotool key Return
sleep 1
# Start (button at 804, 38).
click_at 824 58
box=$(wait_window "Программа завершена" 60)
sleep 0.3
xdotool key Return
# The way back to X 0, Y 0 takes well under two seconds at this pace.
sleep 3
# Stop (904, 38) brings the hidden controls back; then a screenshot and Esc.
click_at 924 58
screenshot_and_escape "$shot_out"

cmp Param.ini before.ini || fail "Param.ini was not written back unchanged"
# Each hole (X, Y) mm is screen pixel (5 + 20 + X, 5 + 5 + Y): drawing area at (5, 5) of the
# window, canvas at (20, 5) of the drawing area.
for hole in "20 30" "40 30" "40 50"; do
    set -- $hole
    colour=$(pixel shot.png $((25 + $1)) $((10 + $2)))
    [ "$colour" = "250 0 0" ] || fail "hole ($1, $2): colour $colour, not the drilled mark"
done
echo "drilling job: ok"
