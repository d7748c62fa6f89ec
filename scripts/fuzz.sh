#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang in build-fuzz and runs each
# for SECONDS (default 60) over a copy of its seed corpus, so a run never adds
# files to fuzz/corpus. Fails when any target reports a crash, leak, timeout
# or sanitizer error; the input that caused it is kept under
# build-fuzz/run/TARGET/artifacts/. HEAT2D_FUZZ_DISPLAY picks the display of
# the X server started for the compiler's GL check; by default a free one.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
case $seconds in '' | *[!0-9]*) echo "usage: $0 [seconds per target]" >&2; exit 2 ;; esac

. scripts/deps.sh
install_missing "${BUILD_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}" xvfb xauth x11-utils

cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DHEAT2D_FUZZ=ON -DHEAT2D_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_mode_string fuzz_compiler

# The compiler target loads what it generates into Mesa, on this server.
. scripts/xserver.sh
start_xvfb "${HEAT2D_FUZZ_DISPLAY:-}"

export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Memory: libFuzzer's RSS limit also counts what AddressSanitizer keeps, a
# quarantine of freed blocks and every distinct allocation stack, which grow
# for the whole run: 2 GB after 25 minutes with a live heap of 31 MB. A small
# quarantine and short allocation stacks hold it near 300 MB. A real blow-up
# is one allocation over malloc_limit_mb, which fails its input at once.
export ASAN_OPTIONS="quarantine_size_mb=64:malloc_context_size=8${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
limits=(-timeout=10 -rss_limit_mb=6144 -malloc_limit_mb=1024)

failed=()
# run_target NAME ARGS...: one target over a copy of fuzz/corpus/NAME.
run_target() {
    local name=$1 status=0
    shift
    local work=build-fuzz/run/$name
    rm -rf "$work"
    mkdir -p "$work/corpus" "$work/artifacts"
    cp fuzz/corpus/"$name"/* "$work/corpus/"
    echo "== fuzz_$name: ${seconds}s"
    build-fuzz/fuzz/fuzz_"$name" "$work/corpus" -max_total_time="$seconds" "${limits[@]}" \
        -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$@" >"$work/log" 2>&1 || status=$?
    if [ "$status" -ne 0 ] || grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' "$work/log"; then
        tail -n 60 "$work/log"
        echo "fuzz_$name FAILED (status $status); log: $work/log; input: $(ls "$work"/artifacts/* 2>/dev/null | tr '\n' ' ')"
        failed+=("$name")
    else
        grep -E '^#[0-9]+[[:space:]]+DONE' "$work/log" | tail -n 1
        grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$work/log"
    fi
}

run_target mode_string -max_len=256
run_target compiler -max_len=4096 -dict=fuzz/compiler.dict

if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzzing found faults in: ${failed[*]}"
    exit 1
fi
echo "fuzzing: no faults in ${seconds}s per target"
