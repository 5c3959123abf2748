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
# The README's sample machine: 10 steps per mm on every axis, a 200 x 150 x 40 mm table, 2 ms
# steps, depth 3 mm, scale 100 %, go-to position (0, 0, 5) mm.
write_params Param.ini 0 0 0 10 10 10 200 150 40 2 3 100 0 0 5
cp "$here/first-job/board.drl" board.drl

"$build/tools/sim/cncmirel-sim" run board.drl --params Param.ini --png preview.png >/dev/null
save_png preview.png "$here/first-job/preview.png"

start_display
start_app "$build/cncmirel_latch"
# Open file (button at 954, 38), the job's name into the dialog, then Start (804, 38).
click_at 974 58
wait_window "Please choose file to load" >/dev/null
sleep 0.5
xdotool type --delay 20 "$WORK/board.drl"
xdotool key Return
sleep 1
click_at 824 58
xdotool mousemove 1200 1000
# Half done: the first screenshot with the 13th of the 25 holes, (110, 55) mm, drilled (screen
# pixel 25 + X, 10 + Y). The job keeps running: a paused job's progress bar shows 0.
for _ in $(seq 1 600); do
    import -window root shot.png
    [ "$(pixel shot.png 135 65)" = "250 0 0" ] && break
    sleep 0.3
done
[ "$(pixel shot.png 135 65)" = "250 0 0" ] || fail "the job did not reach its 13th hole"
convert shot.png -crop 1024x768+0+0 +repage window.png
save_png window.png "$here/window.png"
# Stop (904, 38) ends the job, so that Esc ends the controller.
click_at 924 58
screenshot_and_escape ""
echo "written: $here/window.png $here/first-job/preview.png"
