#!/usr/bin/env bash
# Checks a built package as a user would meet it: lintian without errors, the desktop entry
# and the AppStream metadata valid, and the programs run from a throw-away root made by
# unpacking the package (no installation on this machine).
# usage: check-package.sh PACKAGE.deb SOURCE_DIR
set -euo pipefail
deb="$(realpath "$1")"
src="$(realpath "$2")"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root/fs"

echo "== lintian"
status=0
lintian --fail-on error "$deb" >"$root/lintian.txt" 2>&1 || status=$?
grep -v 'running with root privileges' "$root/lintian.txt" || true
[ "$status" -eq 0 ] || { echo "lintian reports errors" >&2; exit 1; }
echo "== desktop-file-validate"
desktop-file-validate "$root/fs/usr/share/applications/cncmirel.desktop"
echo "== appstreamcli validate"
appstreamcli validate --no-net "$root"/fs/usr/share/metainfo/*.metainfo.xml

# cncmirel-prep reads Gerber layers with the polygon library: the package must pull it in.
echo "== dependencies"
depends=$(dpkg-deb -f "$deb" Depends)
echo "$depends"
grep -q 'libpolyclipping' <<<"$depends" ||
    { echo "the package does not depend on the polygon library cncmirel-prep uses" >&2; exit 1; }
grep -q 'libpng' <<<"$depends" ||
    { echo "the package does not depend on the PNG library cncmirel-prep uses" >&2; exit 1; }

echo "== installed programs"
version=$(dpkg-deb -f "$deb" Version)
for program in "$root"/fs/usr/bin/*; do
    name=$(basename "$program")
    "$program" --version | grep -qx "$name $version" ||
        { echo "$name --version does not say $version" >&2; exit 1; }
    "$program" --version
done

# The README's drilling example: 10 steps per mm, a 100 x 100 x 50 mm table, 1 ms steps,
# depth 3 mm, scale 100 %, go-to (0, 0, 10) mm.
cd "$root"
source "$src/tests/e2e/common.sh"
write_params Param.ini 0 0 0 10 10 10 100 100 50 1 3 100 0 0 10
"$root/fs/usr/bin/cncmirel-sim" run "$src/tests/data/sim/drill_example.drl" --params Param.ini >run.txt
diff -u "$src/tests/data/sim/drill_example.run" run.txt
echo "cncmirel-sim: the example job runs as expected"

# The README's first job as written there, on the package's own examples.
"$src/doc/first_job_commands.sh" "$src/README.md" "$root/fs/usr/share/doc/cncmirel/examples" \
    "$root/fs/usr/bin/cncmirel-sim"

for program in "$root"/fs/usr/bin/*; do
    [ -e "$root/fs/usr/share/man/man1/$(basename "$program").1.gz" ] ||
        { echo "no manual page for $(basename "$program")" >&2; exit 1; }
done
for page in "$root"/fs/usr/share/man/man1/*.1.gz; do
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null | { ! grep .; } ||
        { echo "warnings in $page" >&2; exit 1; }
done
echo "package checks: ok"
