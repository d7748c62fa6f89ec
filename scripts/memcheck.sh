#!/usr/bin/env bash
# Runs heat2d under valgrind's memcheck in its own Xvfb server: start-up, a
# few frames, clicks and a drag, then Escape. Fails when the program does not
# end with status 0, or on any report of an invalid read, write, free or
# jump, a mismatched free, an overlapping copy, or a use of uninitialised
# memory that our code is to blame for; prints those reports.
#
# Who is to blame: each stack of a report (where it happened, where the block
# was allocated or freed, where the uninitialised value came from) is read
# from the innermost frame outwards, past the C and C++ runtime and
# valgrind's own replacements, to the first frame of anything else. The
# report is ours when that frame is in heat2d, which holds nothing but
# app/, heat/, fbo/ and cg/, for any of its stacks. So our bad pointer handed
# to memcpy is ours, and so is a block we freed that the driver reads later;
# but a bad read inside Mesa, in llvmpipe's generated code ("???") or in the
# dynamic loader is not, though our call that led there is further out on
# its stack: we neither wrote that code nor can fix it. Those are counted,
# by the library they were found in, and left alone.
#
# HEAT2D_BUILD_DIR: the build folder (default build); HEAT2D_TEST_DISPLAY:
# the X display (default a free one); HEAT2D_MEMCHECK_ALL=1 prints the
# ignored reports too. valgrind's XML log is kept as
# $HEAT2D_BUILD_DIR/memcheck.xml.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/deps.sh
. scripts/xserver.sh
install_missing "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

build=${HEAT2D_BUILD_DIR:-build}
# Never the sanitizer build: its runtime and valgrind do not mix.
cmake -S . -B "$build" -DHEAT2D_TESTS=ON -DHEAT2D_SANITIZE=OFF >/dev/null
cmake --build "$build" --target heat2d -j"$(nproc)"
binary=$(realpath "$build/heat2d")
log=$(cd "$build" && pwd)/memcheck.xml

start_xvfb "${HEAT2D_TEST_DISPLAY:-}"
work=$(mktemp -d /tmp/heat2d-memcheck-XXXXXX)
on_exit "rm -rf '$work'"
cp "$build/HeatShader.cg" "$work/"
cd "$work"

started=$SECONDS
# XML, for the object of every frame: the text log hides it where a frame
# has a source line. Leaks are the sanitizer build's business.
valgrind --tool=memcheck --track-origins=yes --num-callers=50 --leak-check=no \
    --xml=yes --xml-file="$log" "$binary" >output.txt 2>&1 &
pid=$!
on_exit "kill -KILL $pid 2>/dev/null"

fail() {
    echo "memcheck: $*" >&2
    echo "--- program output ---" >&2
    cat output.txt >&2
    exit 1
}

window=
for _ in $(seq 240); do
    window=$(xdotool search --onlyvisible --name '^2D Heat Equation$' 2>/dev/null | head -n1 || true)
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.5
done
[ -n "$window" ] || fail "no window after $((SECONDS - started)) s"
echo "window after $((SECONDS - started)) s"

sleep 5  # frames before any input, the first one setting everything up
for at in "320 240" "100 400" "600 50"; do
    xdotool mousemove --window "$window" $at click 1
    sleep 1
done
xdotool mousemove --window "$window" 100 100 mousedown 1
for x in 150 200 250 300 350 400 450 500; do
    xdotool mousemove --window "$window" "$x" $((x / 2 + 100))
    sleep 0.2
done
xdotool mouseup 1
sleep 3
xdotool mousemove --window "$window" 1 1 windowfocus --sync "$window" key Escape

for _ in $(seq 240); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.5
done
kill -0 "$pid" 2>/dev/null && fail "still running 120 s after Escape"
status=0
wait "$pid" || status=$?
echo "ran $((SECONDS - started)) s under valgrind, exit status $status"
grep -q '</valgrindoutput>' "$log" || fail "valgrind did not finish its log $log"
[ "$status" -eq 0 ] || fail "exit status $status, not 0"

awk -v binary="$binary" -v all="${HEAT2D_MEMCHECK_ALL:-0}" '
    function value(line) {
        sub(/^[^>]*>/, "", line); sub(/<\/[a-z]+>.*$/, "", line)
        gsub(/&lt;/, "<", line); gsub(/&gt;/, ">", line); gsub(/&apos;/, "'\''", line)
        gsub(/&quot;/, "\"", line); gsub(/&amp;/, "\\&", line)
        return line
    }
    function runtime(obj) {
        return obj ~ /\/valgrind\// || obj ~ /\/(libc\.so|ld-linux[^\/]*\.so|libstdc\+\+\.so|libm\.so|libgcc_s\.so)[^\/]*$/
    }
    /<error>/ { inerror = 1; kind = ""; text = ""; ours = 0; blamed = ""; next }
    !inerror { next }
    /<kind>/ { kind = value($0); next }
    /<what>/ || (/<text>/ && text == "") { text = value($0); next }
    /<auxwhat>/ { text = text "\n " value($0); next }
    /<stack>/ { decided = 0; first = 1; next }
    /<frame>/ { obj = fn = dir = file = line = ""; next }
    /<obj>/ { obj = value($0); next }
    /<fn>/ { fn = value($0); next }
    /<dir>/ { dir = value($0); next }
    /<file>/ { file = value($0); next }
    /<line>/ { line = value($0); next }
    /<\/frame>/ {
        where = file != "" ? "(" dir "/" file ":" line ")" : "(in " obj ")"
        text = text "\n   " (first ? "at " : "by ") (fn != "" ? fn : "???") " " where
        first = 0
        if (!decided && !runtime(obj)) {
            decided = 1
            if (obj == binary) ours = 1
            else if (blamed == "") blamed = obj == "" ? "generated code" : obj
        }
        next
    }
    /<\/error>/ {
        inerror = 0
        if (kind !~ /^(InvalidRead|InvalidWrite|InvalidFree|MismatchedFree|InvalidJump|Overlap|UninitCondition|UninitValue|SyscallParam|ClientCheck)$/) next
        if (ours) { ++found; print text "\n" }
        else {
            sub(/.*\//, "", blamed); ++ignored[blamed]
            if (all == 1) print "(ignored: " blamed ") " text "\n"
        }
    }
    END {
        for (lib in ignored) { others = others sep ignored[lib] " in " lib; sep = ", " }
        printf "memcheck: %d report(s) ours, ignored: %s\n", found, others == "" ? "none" : others
        exit (found > 0)
    }
' "$log"
