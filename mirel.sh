#!/usr/bin/env bash
# Installs what the controller needs (Debian packages), builds it, and runs it or its tests.
#   ./mirel.sh run        build the three programs only and start the controller (Param.ini
#                         lives in the current folder)
#   ./mirel.sh test       build everything and run every test
#   ./mirel.sh sanitize   build and run the unit and scenario tests with ASan and UBSan
#   ./mirel.sh build      only build, everything
#   ./mirel.sh package    build what the Debian package holds, the package into build/, and check
#                         it (lintian, validators)
#   ./mirel.sh fuzz [S]   fuzz every reader with clang's engine, S seconds each (default 60)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="${BUILD_DIR:-$here/build}"
san_build="${SAN_BUILD_DIR:-$here/build-san}"
jobs="${JOBS:-$(nproc 2>/dev/null || echo 2)}"

build_packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-qpa-plugins libgl-dev
                libgtest-dev libgmock-dev fonts-dejavu-core qt6-base-private-dev
                qt6-translations-l10n libpolyclipping-dev libpng-dev)
test_packages=(xvfb xauth xdotool x11-apps imagemagick locales python3 clang-format)
fuzz_packages=(cmake ninja-build clang libclang-rt-dev)
package_packages=(dpkg-dev file desktop-file-utils appstream lintian man-db)

install_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# A locale with a decimal comma, so that the tests can show that job files are read the same
# whatever the operator's locale.
ensure_comma_locale() {
    locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$' && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" localedef -i ru_RU -f UTF-8 ru_RU.UTF-8 || echo "note: ru_RU.UTF-8 could not be made"
}

# With require-e2e (the test run) the configure fails when the end-to-end tests' tools are missing.
# With installed, only what the package installs is built (the programs, the manual pages):
# the tests, fuzz replays and benchmarks are most of the build's time.
configure_and_build() {
    local require_e2e=OFF target=()
    [ "${1:-}" = require-e2e ] && require_e2e=ON
    [ "${1:-}" = installed ] && target=(--target cnc_installed)
    cmake -G Ninja -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCNC_REQUIRE_E2E="$require_e2e" >/dev/null
    cmake --build "$build" -j "$jobs" "${target[@]}"
}

case "${1:-}" in
    run)
        install_packages "${build_packages[@]}"
        configure_and_build installed
        exec "$build/cncmirel"
        ;;
    build)
        install_packages "${build_packages[@]}"
        configure_and_build
        ;;
    test)
        install_packages "${build_packages[@]}" "${test_packages[@]}"
        ensure_comma_locale
        configure_and_build require-e2e
        ctest --test-dir "$build" --output-on-failure -j "$jobs"
        ;;
    sanitize)
        install_packages "${build_packages[@]}"
        cmake -G Ninja -S "$here" -B "$san_build" -DCMAKE_BUILD_TYPE=Debug -DCNC_SANITIZE=ON \
            -DCNC_WITH_QT=OFF -DCNC_BENCH=OFF >/dev/null
        cmake --build "$san_build" -j "$jobs"
        ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
            ctest --test-dir "$san_build" --output-on-failure -j "$jobs"
        ;;
    package)
        install_packages "${build_packages[@]}" "${package_packages[@]}"
        configure_and_build installed
        rm -f "$build"/cncmirel_*.deb
        (cd "$build" && cpack -G DEB)
        "$here/packaging/check-package.sh" "$build"/cncmirel_*.deb "$here"
        ;;
    fuzz)
        install_packages "${fuzz_packages[@]}"
        exec "$here/fuzz/run.sh" "${2:-60}"
        ;;
    *)
        echo "usage: $0 run|test|sanitize|build|package|fuzz" >&2
        exit 2
        ;;
esac
