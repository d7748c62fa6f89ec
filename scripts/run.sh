#!/usr/bin/env bash
# Installs what is missing, builds heat2d and heat2d-cg, and runs heat2d on the
# current display.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_missing "${BUILD_PACKAGES[@]}"
cmake -S . -B build -DHEAT2D_TESTS=OFF >/dev/null
cmake --build build --target heat2d heat2d-cg -j"$(nproc)"
# The program reads HeatShader.cg from its working directory.
cd build
exec ./heat2d "$@"
