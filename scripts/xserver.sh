# Sourced by the test scripts: a private X server, and clean-up at exit that
# several parts of a script can add to.

# on_exit COMMAND: runs COMMAND when the script exits, latest first.
_on_exit_commands=()
on_exit() {
    _on_exit_commands+=("$1")
    trap _run_on_exit EXIT
}
_run_on_exit() {
    local i
    for ((i = ${#_on_exit_commands[@]} - 1; i >= 0; i--)); do
        eval "${_on_exit_commands[i]}" || true
    done
}

# start_xvfb [NUMBER]: starts Xvfb on :NUMBER, or on the first free display
# when NUMBER is empty, exports DISPLAY, and stops the server at exit. No
# window manager, so window placement is exact, and no reset when the last
# client leaves (connections fail during one).
start_xvfb() {
    local number=${1:-} chosen
    if [ -n "$number" ]; then
        Xvfb ":$number" -screen 0 1920x1080x24 -nolisten tcp -noreset >/dev/null 2>&1 &
        xvfb_pid=$!
    else
        # The server picks the number and writes it to the descriptor.
        chosen=$(mktemp)
        Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$chosen" >/dev/null 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 100); do
            [ -s "$chosen" ] && break
            sleep 0.1
        done
        number=$(tr -dc 0-9 <"$chosen")
        rm -f "$chosen"
        if [ -z "$number" ]; then
            echo "Xvfb did not start" >&2
            return 1
        fi
    fi
    on_exit "kill $xvfb_pid 2>/dev/null"
    for _ in $(seq 50); do
        xdpyinfo -display ":$number" >/dev/null 2>&1 && break
        sleep 0.1
    done
    kill -0 "$xvfb_pid" 2>/dev/null ||
        echo "warning: Xvfb :$number did not start (display in use?); using the server already there" >&2
    export DISPLAY=":$number"
}
