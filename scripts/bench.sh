#!/usr/bin/env bash
# Installs what is missing, builds heat2d and heat2d-bench and runs the bench;
# under a private Xvfb when DISPLAY is unset. Arguments go to the bench:
# --json, --quick. A full run builds in build-bench, an optimised tree of its
# own; --quick, a smoke run, reuses build/, the tree run.sh and test.sh make.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_missing "${BUILD_PACKAGES[@]}" xvfb xauth x11-utils >&2

quick=0
for argument in "$@"; do [ "$argument" = --quick ] && quick=1; done
if [ "$quick" -eq 1 ]; then
    tree=build
    # An existing tree keeps its settings; building reconfigures it if needed.
    [ -f "$tree/CMakeCache.txt" ] || cmake -S . -B "$tree" -DHEAT2D_TESTS=OFF >/dev/null
else
    tree=build-bench
    # A first configure gets the usual optimised build without the tests; an
    # existing build folder keeps its settings.
    if [ -f "$tree/CMakeCache.txt" ]; then
        cmake -S . -B "$tree" >/dev/null
    else
        cmake -S . -B "$tree" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHEAT2D_TESTS=OFF >/dev/null
    fi
fi
cmake --build "$tree" --target heat2d-bench -j"$(nproc)" >&2

if [ -z "${DISPLAY:-}" ]; then
    . scripts/xserver.sh
    start_xvfb "${HEAT2D_BENCH_DISPLAY:-}"
fi

"$tree/heat2d-bench" "$@"
