#!/usr/bin/env bash
# Usage: soak.sh [SECONDS]   (default 120, at least 30)
#
# Runs heat2d in its own Xvfb server for SECONDS under random input: clicks
# and drags that paint heat, "f" now and then, window resizes. The first ten
# seconds go through each kind of input once, so that what the driver sets
# up for each is there before memory is first measured. Fails when:
#   - the program is not running at the end, or does not end with status 0
#     on Escape afterwards;
#   - its resident memory (VmRSS) grew by 2 MiB or more from 10 s to the end,
#     both taken in the same 640x480 window (the median of three samples), or
#     it holds more file descriptors at the end than at 10 s;
#   - it printed any line with "ERROR" in it;
#   - a screenshot, taken every 10 s, shows other than a field of red heat:
#       * white pixels (all channels >= 200) over 0.2% of the window, or
#         blue (> 32) over 0.2%: the field has no green and no blue at all;
#       * green (> 32) over 2%: only the frame-rate text is green;
#       * no pixel with any red, though a click went in 0.1 s before: the
#         field was blanked or turned to NaN;
#       * a mean red above what the heat put in allows: the border is
#         insulated, so the field holds at most the 17 cells of the start-up
#         face plus one unit per stamp, and a stamp is at most one per press
#         or pointer motion sent. Displayed heat is clamped to 1, so the mean
#         red is at most 255 * (17 + stamps) / 4096, times 1.5 for the
#         uneven stretch of 64 cells over the window, plus 1 for rounding.
#     Heat does leave through rounding, within seconds at the frame rates of
#     llvmpipe, so there is no lower bound beyond the fresh stamp.
# Prints what it measured. HEAT2D_SOAK_SEED repeats a run's random input;
# HEAT2D_BUILD_DIR (default build) and HEAT2D_TEST_DISPLAY (default a free
# display) as in memcheck.sh. Screenshots and the program's output are kept
# in $HEAT2D_BUILD_DIR/soak/.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
. scripts/xserver.sh
install_missing "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

duration=${1:-120}
if ! [[ $duration =~ ^[0-9]+$ ]] || [ "$duration" -lt 30 ]; then
    echo "usage: $0 [seconds, at least 30]" >&2
    exit 2
fi

build=${HEAT2D_BUILD_DIR:-build}
cmake -S . -B "$build" -DHEAT2D_TESTS=ON >/dev/null
cmake --build "$build" --target heat2d -j"$(nproc)"
binary=$(cd "$build" && pwd)/heat2d
out=$(cd "$build" && pwd)/soak
rm -rf "$out"
mkdir -p "$out"

start_xvfb "${HEAT2D_TEST_DISPLAY:-}"
work=$(mktemp -d /tmp/heat2d-soak-XXXXXX)
on_exit "rm -rf '$work'"
cp "$build/HeatShader.cg" "$work/"
cd "$work"

# The program line-buffers its own output, so it is there even if the
# program dies. A fixed mmap threshold: window-sized buffers are then always mapped apart and given
# back when freed, so VmRSS follows what the program holds, not what malloc
# keeps after a full-screen spell (its threshold otherwise grows with them).
GLIBC_TUNABLES=glibc.malloc.mmap_threshold=131072 "$binary" >"$out/output.txt" 2>&1 &
pid=$!
on_exit "kill -KILL $pid 2>/dev/null"

failures=()
failed() {
    failures+=("$*")
    echo "FAIL: $*"
}
alive() { [ -e "/proc/$pid" ] && ! grep -q '^State:.*Z' "/proc/$pid/status" 2>/dev/null; }

window=
for _ in $(seq 120); do
    window=$(xdotool search --onlyvisible --name '^2D Heat Equation$' 2>/dev/null | head -n1 || true)
    [ -n "$window" ] && break
    alive || break
    sleep 0.5
done
if [ -z "$window" ]; then
    echo "no window within 60 s" >&2
    cat "$out/output.txt" >&2
    exit 1
fi
begin=$SECONDS
seed=${HEAT2D_SOAK_SEED:-$(( $(date +%s) % 32768 ))}
RANDOM=$seed
echo "soak: $duration s, seed $seed, window $window on $DISPLAY"

clicks=0 drags=0 motions=0 toggles=0 resizes=0 shots=0
fullscreen=0
highest_red=0 lowest_red=255 peak_rss=0

# Input and queries go on if the window has gone: the checks at the end
# tell what happened.
input() { xdotool "$@" 2>/dev/null || true; }
size() {
    { xdotool getwindowgeometry --shell "$window" 2>/dev/null || true; } |
        awk -F= '/^(WIDTH|HEIGHT)=/ { v[$1] = $2 } END { print (v["WIDTH"] > 0 ? v["WIDTH"] : 640), (v["HEIGHT"] > 0 ? v["HEIGHT"] : 480) }'
}
rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0; }
median_rss() {
    local a b c
    a=$(rss); sleep 0.5; b=$(rss); sleep 0.5; c=$(rss)
    printf '%s\n' "$a" "$b" "$c" | sort -n | sed -n 2p
}
descriptors() { { ls "/proc/$pid/fd" 2>/dev/null || true; } | wc -l; }
random_in() { echo $(($1 + RANDOM % ($2 - $1 + 1))); }

click() {
    local w h
    read -r w h < <(size)
    input mousemove --window "$window" "$(random_in 0 $((w - 1)))" "$(random_in 0 $((h - 1)))" click 1
    clicks=$((clicks + 1))
}
drag() {
    local w h steps x y i
    read -r w h < <(size)
    steps=$(random_in 3 12)
    x=$(random_in 0 $((w - 1))) y=$(random_in 0 $((h - 1)))
    input mousemove --window "$window" "$x" "$y" mousedown 1
    for ((i = 0; i < steps; i++)); do
        x=$(( (x + $(random_in -40 40) + w) % w )) y=$(( (y + $(random_in -40 40) + h) % h ))
        input mousemove --window "$window" "$x" "$y"
        sleep 0.03
    done
    input mouseup 1
    drags=$((drags + 1)) motions=$((motions + steps))
}
toggle() {
    # Focused explicitly: there is no window manager to do it.
    input mousemove --window "$window" 1 1 windowfocus --sync "$window" key f
    fullscreen=$((1 - fullscreen)) toggles=$((toggles + 1))
    sleep 0.5
}
resize() {
    if [ "$fullscreen" -eq 1 ]; then toggle; fi
    input windowsize "$window" "${1:-$(random_in 320 1280)}" "${2:-$(random_in 240 960)}"
    resizes=$((resizes + 1))
    sleep 0.5
}
windowed() {  # the 640x480 window memory is compared in
    if [ "$fullscreen" -eq 1 ]; then toggle; fi
    resize 640 480
    sleep 1
}

# Mean and highest red, and the shares of white, blue and green pixels.
image_figures() {
    local f=$1
    printf '%s %s %s %s %s\n' \
        "$(convert "$f" -format '%[fx:255*mean.r]' info:)" \
        "$(convert "$f" -channel R -separate -format '%[fx:round(255*maxima)]' info:)" \
        "$(convert "$f" -separate -evaluate-sequence min -threshold 78% -format '%[fx:100*mean]' info:)" \
        "$(convert "$f" -channel B -separate -threshold 12.5% -format '%[fx:100*mean]' info:)" \
        "$(convert "$f" -channel G -separate -threshold 12.5% -format '%[fx:100*mean]' info:)"
}
gt() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b) }'; }
screenshot() {
    local f red most white blue green stamps allowed
    # Soon after: at hundreds of frames per second a stamp spreads thin fast.
    click
    sleep 0.1
    shots=$((shots + 1))
    f=$(printf '%s/shot-%03d.png' "$out" "$shots")
    if ! import -silent -window "$window" "$f" 2>/dev/null; then
        failed "screenshot $shots could not be taken"
        return
    fi
    read -r red most white blue green < <(image_figures "$f")
    stamps=$((clicks + drags + motions))
    allowed=$(awk -v s="$stamps" 'BEGIN { a = 255 * 1.5 * (17 + s) / 4096 + 1; print (a > 255 ? 255 : a) }')
    printf '  shot %3d at %3d s, %s: mean red %6.2f (allowed %6.2f), highest %3d, white %.3f%%, blue %.3f%%, green %.3f%%\n' \
        "$shots" $((SECONDS - begin)) "$(size | tr ' ' x | sed 's/x$//')" "$red" "$allowed" "$most" "$white" "$blue" "$green"
    if gt "$white" 0.2; then failed "shot $shots: white over 0.2% of the window ($white%)"; fi
    if gt "$blue" 0.2; then failed "shot $shots: blue over 0.2% of the window ($blue%)"; fi
    if gt "$green" 2; then failed "shot $shots: green over 2% of the window ($green%)"; fi
    if [ "$most" -eq 0 ]; then failed "shot $shots: no red at all"; fi
    if gt "$red" "$allowed"; then failed "shot $shots: mean red $red above the $allowed that $stamps stamps allow"; fi
    if gt "$red" "$highest_red"; then highest_red=$red; fi
    if gt "$lowest_red" "$red"; then lowest_red=$red; fi
    local r
    r=$(rss)
    if [ "$r" -gt "$peak_rss" ]; then peak_rss=$r; fi
}

# Warm-up: each kind of input once, then back to the window as it started.
sleep 1
screenshot
click; sleep 0.3
drag; sleep 0.3
toggle; click; sleep 0.5
toggle
resize; click; sleep 0.3
windowed
while [ $((SECONDS - begin)) -lt 10 ]; do sleep 0.2; done
if alive; then
    rss_start=$(median_rss)
    fds_start=$(descriptors)
    threads_start=$(awk '/^Threads:/ { print $2 }' "/proc/$pid/status")
    echo "  at 10 s: VmRSS $rss_start kB, $fds_start descriptors, $threads_start threads"
fi
next_shot=$((SECONDS + 5))

# Leaves room for the last measurements within the time asked for.
while [ $((SECONDS - begin)) -lt $((duration - 4)) ] && alive; do
    roll=$(random_in 1 100)
    if [ "$roll" -le 45 ]; then click
    elif [ "$roll" -le 85 ]; then drag
    elif [ "$roll" -le 92 ]; then toggle
    else resize
    fi
    sleep "0.$(random_in 2 9)"
    if [ "$SECONDS" -ge "$next_shot" ]; then
        sleep 1  # a settled frame after a resize or toggle
        screenshot
        next_shot=$((SECONDS + 10))
    fi
done

if alive; then
    windowed
    screenshot
    rss_end=$(median_rss)
    fds_end=$(descriptors)
    threads_end=$(awk '/^Threads:/ { print $2 }' "/proc/$pid/status")
    cpu=$(awk '{ printf "%.1f", ($14 + $15) / '"$(getconf CLK_TCK)"' }' "/proc/$pid/stat")
else
    failed "the program is not running after $((SECONDS - begin)) s"
fi
errors=$(grep -c 'ERROR' "$out/output.txt" || true)
[ "$errors" -eq 0 ] || failed "$errors line(s) with ERROR in the output: $(grep -m3 'ERROR' "$out/output.txt" | tr '\n' '|')"

status=none
if alive; then
    input mousemove --window "$window" 1 1 windowfocus --sync "$window" key Escape
    for _ in $(seq 40); do alive || break; sleep 0.5; done
    status=0
    wait "$pid" || status=$?
    [ "$status" = 0 ] || failed "exit status $status after Escape, not 0"
fi

echo "soak figures ($((SECONDS - begin)) s since the window appeared, seed $seed):"
echo "  input: $clicks clicks, $drags drags ($motions motions), $toggles f presses, $resizes resizes, $shots screenshots"
if [ -n "${rss_start:-}" ] && [ -n "${rss_end:-}" ]; then
    growth=$((rss_end - rss_start))
    echo "  VmRSS: $rss_start kB at 10 s, $rss_end kB at the end, growth $growth kB (limit 2048), peak seen $peak_rss kB"
    echo "  descriptors: $fds_start at 10 s, $fds_end at the end; threads: $threads_start at 10 s, $threads_end at the end"
    echo "  CPU time: $cpu s"
    [ "$growth" -lt 2048 ] || failed "VmRSS grew by $growth kB"
    [ "$fds_end" -le "$fds_start" ] || failed "descriptors went from $fds_start to $fds_end"
fi
echo "  mean red of the screenshots: lowest $lowest_red, highest $highest_red; output lines with ERROR: $errors; exit status $status"
echo "  screenshots and output in $out"
if [ ${#failures[@]} -gt 0 ]; then
    echo "soak FAILED: ${#failures[@]} check(s)"
    exit 1
fi
echo "soak passed"
