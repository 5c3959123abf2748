#!/usr/bin/env bash
# Runs the README's first job as the README writes it, in the current folder: its Param.ini
# command, then each of its `cncmirel-sim run` commands on the examples, each of which must end
# with the line the README quotes. The README names the installed paths; EXAMPLES and SIM say
# where the examples and the simulator are here.
# usage: doc/first_job_commands.sh README EXAMPLES_DIR SIM_PROGRAM
set -euo pipefail
readme="$1"
examples="$2"
sim="$3"
installed=/usr/share/doc/cncmirel/examples

sed -n "/^ *python3 -c 'import struct/,/))'\$/p" "$readme" >first-job-params.sh
[ -s first-job-params.sh ] || { echo "README: no Param.ini command found" >&2; exit 1; }
bash first-job-params.sh
rm -f first-job-params.sh

runs=0
while read -r command; do
    read -ra words <<<"${command//$installed/$examples}"
    words[0]="$sim"
    last=$("${words[@]}" | tail -n 1)
    grep -qF "\`$last\`" "$readme" ||
        { echo "README: '$command' ends with '$last', which the README does not say" >&2; exit 1; }
    echo "README: $command -> $last"
    runs=$((runs + 1))
done < <(grep -E "^ +cncmirel-sim run $installed/" "$readme")
[ "$runs" -ge 2 ] || { echo "README: the first jobs' commands were not found" >&2; exit 1; }
