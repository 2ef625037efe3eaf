#!/usr/bin/env bash
# Runs a command on a private Xvfb. The server picks a free display number
# itself (-displayfd), so runs in parallel never race for one the way
# `xvfb-run -a` can. By default an X server resets when its last client
# leaves and drops a client that connects meanwhile; the dialogs check the
# display with a connection of their own just before Qt connects, so the
# server runs with -noreset. The command starts only once a client
# (xdpyinfo) has been answered on the display; a server that does not answer
# in time is stopped and a fresh one started. The server stops when the
# command ends.
# Usage: with_xvfb.sh <screen geometry, e.g. 1366x768x24> <command> [args...]
# WITH_XVFB_ANSWER_SECONDS bounds the wait for one server's answer (default 30).
set -euo pipefail
geometry=$1
shift
answer_seconds=${WITH_XVFB_ANSWER_SECONDS:-30}
attempts=4
work=$(mktemp -d)
server=
stop_server() {
    if [[ -n $server ]]; then
        kill "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
        server=
    fi
}
trap 'stop_server; rm -rf "$work"' EXIT

# Starts a server; true once a client was answered on :$display.
start_server() {
    : >"$work/display"
    Xvfb -displayfd 3 -noreset -screen 0 "$geometry" -nolisten tcp 3>"$work/display" 2>>"$work/xvfb.log" &
    server=$!
    display=
    local deadline=$((SECONDS + answer_seconds))
    while ((SECONDS < deadline)); do
        # Only a whole line: the number is followed by a newline.
        [[ -n $display ]] || read -r display <"$work/display" || display=
        if [[ -n $display ]] && DISPLAY=":$display" timeout 10 xdpyinfo >/dev/null 2>&1; then
            return 0
        fi
        kill -0 "$server" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

for attempt in $(seq "$attempts"); do
    start_server && break
    echo "with_xvfb: server ${display:+on :$display }did not answer (attempt $attempt); starting a fresh one"
    stop_server
    if ((attempt == attempts)); then
        cat "$work/xvfb.log"
        exit 1
    fi
done
status=0
DISPLAY=":$display" "$@" || status=$?
exit $status
