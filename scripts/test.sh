#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under its
# own Xvfb server.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_missing "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
cmake -S . -B build -DHEAT2D_TESTS=ON >/dev/null
cmake --build build -j"$(nproc)"

# A private X server; no window manager, so window placement is exact, and
# no reset when the last client leaves (connections fail during one).
display_number=${HEAT2D_TEST_DISPLAY:-97}
Xvfb ":$display_number" -screen 0 1920x1080x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    xdpyinfo -display ":$display_number" >/dev/null 2>&1 && break
    sleep 0.1
done
export DISPLAY=":$display_number"

cd build
ctest --output-on-failure "$@"
