#!/usr/bin/env bash
# Builds the program, the tools and the tests (not the benchmark) with
# AddressSanitizer and UndefinedBehaviorSanitizer in build-asan and runs every
# test but the slow ones (timings, which an instrumented build cannot judge;
# the benchmark; the copied tree's build, which tests the build and not the
# code) under its own Xvfb server: side by side, then the real program's runs
# alone, since they judge a moving field from screenshots. Arguments go to ctest.
# HEAT2D_TEST_DISPLAY picks the display; by default a free one.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
. scripts/xserver.sh
install_missing "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

# Every report ends the process that made it with a non-zero status: a test
# executable fails its case, and a sanitized heat2d driven by an end-to-end
# test fails it too, since those expect status 0 after Escape. Leaks are
# found after exit() has begun, so a leaking heat2d turns that 0 into 23.
# AddressSanitizer's reports go to files, as the tests do not print every
# heat2d's output; any such report fails the run, even from a process whose
# status nobody checked. UndefinedBehaviorSanitizer ignores log_path when
# linked with AddressSanitizer: its reports stay on the process's stderr,
# and its exit status, 24, is what fails the test.
# verify_asan_link_order=0: apitrace and the driver below are
# preloaded ahead of the sanitizer runtime, which is harmless here.
# Exported before the build, which runs the test executables to list cases.
reports=$PWD/build-asan/sanitizer-reports
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="halt_on_error=1:exitcode=23:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:verify_asan_link_order=0:log_path=$reports/asan"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=24"
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitize/lsan.supp:print_suppressions=0"

cmake -S . -B build-asan -DHEAT2D_TESTS=ON -DHEAT2D_SANITIZE=ON -DHEAT2D_BENCH=OFF >/dev/null
cmake --build build-asan -j"$(nproc)"

# libglvnd unloads Mesa's driver in its exit-time teardown, before the leak
# check: the blocks the driver's globals pointed to would then read as leaks
# from a module that no longer has a name. Preloaded, it stays mapped.
driver=$(dpkg-query -L libgl1-mesa-dri 2>/dev/null | grep -m1 '/swrast_dri\.so$' || true)
if [ -n "$driver" ]; then
    export LD_PRELOAD="$driver${LD_PRELOAD:+:$LD_PRELOAD}"
else
    echo "warning: Mesa's swrast_dri.so not found; expect false leak reports" >&2
fi

start_xvfb "${HEAT2D_TEST_DISPLAY:-}"

status=0
(cd build-asan && ctest --output-on-failure -j"$(nproc)" -LE 'slow|e2e' "$@") || status=$?
(cd build-asan && ctest --output-on-failure -L e2e -LE slow "$@") || status=$?
for report in "$reports"/*; do
    [ -e "$report" ] || continue
    echo "==== sanitizer report $(basename "$report")"
    cat "$report"
    status=1
done
exit "$status"
