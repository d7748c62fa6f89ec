#!/usr/bin/env bash
# Installs what is missing, builds heat2d and heat2d-bench in build-bench and
# runs the bench; under a private Xvfb when DISPLAY is unset. Arguments go to
# the bench: --json, --quick.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_missing "${BUILD_PACKAGES[@]}" xvfb xauth x11-utils >&2
# A first configure gets the usual optimised build without the tests; an
# existing build folder keeps its settings.
if [ -f build-bench/CMakeCache.txt ]; then
    cmake -S . -B build-bench >/dev/null
else
    cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHEAT2D_TESTS=OFF >/dev/null
fi
cmake --build build-bench --target heat2d-bench -j"$(nproc)" >&2

if [ -z "${DISPLAY:-}" ]; then
    . scripts/xserver.sh
    start_xvfb "${HEAT2D_BENCH_DISPLAY:-}"
fi

build-bench/heat2d-bench "$@"
