#!/usr/bin/env bash
# Takes the README's pictures again: the controller's window with the first job half drilled
# (doc/window.png), taken from a real window under Xvfb, and the preview that cncmirel-sim
# draws of the whole job (doc/first-job/preview.png). Run it after every visible change; it
# needs a build (./mirel.sh build) and Xvfb, xdotool and ImageMagick (./mirel.sh test installs
# them), and takes two minutes or so, as long as the machine would.
# usage: doc/make_pictures.sh [BUILD_DIR]
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../tests/e2e/common.sh"
build="$(realpath "${1:-$here/../build}")"

# PNG pictures without time stamps, so that an unchanged picture leaves the file unchanged.
save_png() {
    convert "$1" -strip -define png:exclude-chunks=date,time -define png:compression-level=9 "$2"
}

enter_work_dir
# The README's first job as it is written there: its Param.ini (the sample machine) and its
# simulator runs, which leave preview.png.
"$here/first_job_commands.sh" "$here/../README.md" "$here/first-job" \
    "$build/tools/sim/cncmirel-sim"
save_png preview.png "$here/first-job/preview.png"
cp "$here/first-job/board.drl" board.drl

start_display
start_app "$build/cncmirel_latch"
# Open file, the job's name into the dialog, then Start.
click_at "$OPEN_FILE_BUTTON"
dialog=$(wait_window "Please choose file to load")
focus_window "$dialog"
xdotool type --delay 20 "$WORK/board.drl"
xdotool key Return
wait_window_gone "Please choose file to load"
focus_window "$WIN"
click_at "$START_BUTTON"
xdotool mousemove 1200 1000
# Half done: the first screenshot with the 13th of the 25 holes, (110, 55) mm, drilled. The job
# keeps running: a paused job's progress bar shows 0.
wait_pixel $(table_point 110 55) "$DRILLED_HOLE" 400 || fail "the job did not reach its 13th hole"
import -window "$WIN" window.png
save_png window.png "$here/window.png"
# Stop ends the job, so that Esc ends the controller.
click_at "$STOP_BUTTON"
screenshot_and_escape ""
echo "written: $here/window.png $here/first-job/preview.png"
