#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under its
# own Xvfb server.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
. scripts/xserver.sh
install_missing "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
cmake -S . -B build -DHEAT2D_TESTS=ON >/dev/null
cmake --build build -j"$(nproc)"

start_xvfb "${HEAT2D_TEST_DISPLAY:-97}"

# Side by side first; then alone the real program's runs, which judge a moving
# field from screenshots, and the slow ones, whose timings a busy machine
# would spoil.
cd build
status=0
ctest --output-on-failure -j"$(nproc)" -LE 'slow|e2e' "$@" || status=$?
ctest --output-on-failure -L e2e -LE slow "$@" || status=$?
ctest --output-on-failure -L slow "$@" || status=$?
exit "$status"
