#!/usr/bin/env bash
# Fails when an #include runs against the layer order or a Qt header appears where the toolkit
# has no business. The layers, lowest first:
#   base      the shared vocabulary; includes nothing of ours
#   platform  the seam and its implementations
#   drive <- jobs <- run <- app
# A file may include its own layer and the layers below it. The core (drive, jobs, run, app)
# sees the platform through its seam headers only (src/platform/*.h), never an implementation
# (qt/, linux/, fake/), and of those only app includes window.h: drive, jobs and run return what
# the panel shows instead of calling its controls or message boxes. tools/, tests/, bench/ and
# fuzz/ stand above app. Qt headers belong in src/platform/qt and tests/qt alone.
#   tools/check-layers.sh [ROOT]    (default: the project holding this script)
set -euo pipefail
root="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
cd "$root"

rank() {
    case "$1" in
        base) echo 0 ;;
        platform) echo 1 ;;
        drive) echo 2 ;;
        jobs) echo 3 ;;
        run) echo 4 ;;
        app) echo 5 ;;
        *) echo 9 ;;  # tools, tests, bench, fuzz
    esac
}

# The program's entry point is the one file of platform/ that starts the program itself.
entry_point="src/platform/qt/main.cpp"

failures=0
fail() {
    echo "check-layers: $1" >&2
    failures=$((failures + 1))
}

while IFS= read -r file; do
    case "$file" in
        src/*) layer="${file#src/}"; layer="${layer%%/*}" ;;
        *) layer="${file%%/*}" ;;
    esac
    own=$(rank "$layer")
    while IFS=: read -r line text; do
        if [[ "$text" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([a-z_]+)/([^\"]*)\" ]]; then
            target="${BASH_REMATCH[1]}"
            rest="${BASH_REMATCH[2]}"
            # Only our own folders count; a tool's or test's local header has no layer.
            case "$target" in base | platform | drive | jobs | run | app) ;; *) continue ;; esac
            [ "$file" = "$entry_point" ] && continue
            if [ "$(rank "$target")" -gt "$own" ]; then
                fail "$file:$line includes $target/$rest, above its layer ($layer)"
            elif [ "$layer" = base ] && [ "$target" != base ]; then
                fail "$file:$line: base/ includes nothing of ours ($target/$rest)"
            elif [ "$target" = platform ] && [[ "$rest" == */* ]] && [ "$own" -ge 2 ] &&
                [ "$own" -le 5 ]; then
                fail "$file:$line: the core includes a platform implementation ($target/$rest)"
            elif [ "$target/$rest" = platform/window.h ] && [ "$own" -ge 2 ] && [ "$own" -le 4 ]; then
                fail "$file:$line: only app/ handles the window's controls and boxes ($target/$rest)"
            fi
        elif [[ "$text" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<(Q[A-Za-z0-9]*|qpa/[^\>]*)[\>/] ]]; then
            case "$file" in
                src/platform/qt/* | tests/qt/*) ;;
                *) fail "$file:$line includes the Qt header <${BASH_REMATCH[1]}>" ;;
            esac
        fi
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done < <(find src tools tests bench fuzz -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.cc' \) 2>/dev/null | sort)

if [ "$failures" -gt 0 ]; then
    echo "check-layers: $failures include(s) against the layer order" >&2
    exit 1
fi
echo "check-layers: every include follows the layer order"
